// The Windows side of the process tool: CPU sampling before a listing, and
// the command line of another process.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hk::processes {

// The pairs (process id, CPU percentage) of one sampling pass. The entries
// are fixed once the pass starts; each CPU field is written once by the
// worker that samples it and reads 0 until then.
class CpuUsageTable {
 public:
  // The number of processes a pass makes room for up front. A machine that
  // runs more gets a bigger table: every process is sampled.
  static constexpr size_t kRoom = 1000;

  CpuUsageTable(const std::vector<DWORD>& processIds, unsigned processors);
  size_t size() const { return entries_.size(); }
  unsigned processors() const { return processors_; }
  DWORD process_id(size_t index) const { return entries_[index].processId; }
  void set_cpu(size_t index, int32_t cpu) { entries_[index].cpu.store(cpu, std::memory_order_relaxed); }
  // The percentage stored for processId, 0 when it is not in the table.
  int32_t lookup(DWORD processId) const;

 private:
  struct Entry {
    DWORD processId = 0;
    std::atomic<int32_t> cpu{0};
  };
  std::vector<Entry> entries_;
  unsigned processors_;
};

class Process {
 public:
  // How many processes one worker thread samples, one after the other.
  static constexpr size_t kProcessesPerWorker = 8;
  static constexpr DWORD kSampleMilliseconds = 250;
  static constexpr DWORD kPauseMilliseconds = 3000;

  // One sampling pass: a new table, its workers, and the pause that lets
  // them finish. Never throws.
  static void CalculateProcessCPUUsage();
  // Starts a new table from a fresh snapshot with every CPU at 0; returns it.
  static std::shared_ptr<CpuUsageTable> fetchProcessPID();
  // Worker body: samples the entries start .. start + 7 of table.
  static DWORD FindCPUusageThread(const std::shared_ptr<CpuUsageTable>& table, size_t start);
  // Percentage 0 to 100 of the processors' time that processId used over
  // one sample.
  static int32_t SampleCpuUsage(DWORD processId, unsigned processors);
  // From the table of the last pass; 0 for an id it does not hold.
  static int32_t LookupCpuUsage(DWORD processId);

  // 1 and the command line in out, or 0 and "" in out.
  static int GetCommandLine(DWORD processId, std::wstring& out);
  // The same through a handle with PROCESS_QUERY_INFORMATION | PROCESS_VM_READ.
  static int ReadCommandLine(HANDLE process, std::wstring& out);
};

}  // namespace hk::processes
