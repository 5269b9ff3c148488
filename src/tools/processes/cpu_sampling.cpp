// CPU sampling before a listing: one worker thread per run of up to eight
// processes, each sampling its processes one after the other over 250 ms,
// while the listing's thread pauses for three seconds.
#include <windows.h>

#include <memory>
#include <mutex>

#include "infra/log.h"
#include "infra/win_resource.h"
#include "infra/win_time.h"
#include "tools/processes/process_collect.h"
#include "tools/processes/process.h"
#include "tools/processes/process_render.h"
#include "tools/processes/process_snapshot.h"

namespace hk::processes {
namespace {

// The table of the last pass. Workers hold their own reference, so a worker
// that is still busy when the next pass starts writes into its old table.
std::mutex g_tableMutex;
std::shared_ptr<CpuUsageTable> g_cpuTable;

struct WorkerStart {
  std::shared_ptr<CpuUsageTable> table;
  size_t start;
};

DWORD WINAPI worker_main(LPVOID parameter) {
  std::unique_ptr<WorkerStart> work(static_cast<WorkerStart*>(parameter));
  try {
    return Process::FindCPUusageThread(work->table, work->start);
  } catch (...) {
    WriteLog(L"Process::FindCPUusageThread::error caught");
    return 0;
  }
}

int64_t ticks(const FILETIME& time) { return static_cast<int64_t>(FileTimeTicks(time)); }

}  // namespace

CpuUsageTable::CpuUsageTable(const std::vector<DWORD>& processIds, unsigned processors)
    : entries_(processIds.size()), processors_(processors) {
  for (size_t i = 0; i < processIds.size(); ++i) entries_[i].processId = processIds[i];
}

int32_t CpuUsageTable::lookup(DWORD processId) const {
  for (const Entry& entry : entries_) {
    if (entry.processId == processId) return entry.cpu.load(std::memory_order_relaxed);
  }
  return 0;
}

std::shared_ptr<CpuUsageTable> Process::fetchProcessPID() {
  try {
    std::vector<DWORD> processIds;
    processIds.reserve(CpuUsageTable::kRoom);
    for (const PROCESSENTRY32W& entry : TakeProcessSnapshot()) processIds.push_back(entry.th32ProcessID);
    auto table = std::make_shared<CpuUsageTable>(processIds, hk::processes::ActiveProcessorCount());
    WriteLog(L"Totol Process : %d", static_cast<int>(table->size()));
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_cpuTable = table;
    return table;
  } catch (...) {
    WriteLog(L"Process::fetchProcessPID::error caught");
    return nullptr;
  }
}

void Process::CalculateProcessCPUUsage() {
  try {
    const std::shared_ptr<CpuUsageTable> table = fetchProcessPID();
    if (table) {
      for (size_t start = 0; start < table->size(); start += kProcessesPerWorker) {
        auto work = std::make_unique<WorkerStart>(WorkerStart{table, start});
        // Not joined: the pause below outlasts a worker's eight samples.
        unique_handle thread(::CreateThread(nullptr, 0, worker_main, work.get(), 0, nullptr));
        if (!thread) {
          WriteLog(L"Create thread failed : %d", static_cast<int>(::GetLastError()));
          continue;
        }
        static_cast<void>(work.release());
      }
    }
    ::Sleep(kPauseMilliseconds);
  } catch (...) {
    WriteLog(L"Process::CalculateProcessCPUUsage::error caught");
  }
}

DWORD Process::FindCPUusageThread(const std::shared_ptr<CpuUsageTable>& table, size_t start) {
  for (size_t i = start; i < table->size() && i < start + kProcessesPerWorker; ++i) {
    table->set_cpu(i, SampleCpuUsage(table->process_id(i), table->processors()));
  }
  return 0;
}

int32_t Process::SampleCpuUsage(DWORD processId, unsigned processors) {
  FILETIME wall0{};
  ::GetSystemTimeAsFileTime(&wall0);
  unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, processId));
  if (!process) return 0;
  FILETIME creation{}, exit{}, kernel0{}, user0{}, kernel1{}, user1{};
  if (!::GetProcessTimes(process.get(), &creation, &exit, &kernel0, &user0)) return 0;
  ::Sleep(kSampleMilliseconds);
  FILETIME wall1{};
  ::GetSystemTimeAsFileTime(&wall1);
  if (!::GetProcessTimes(process.get(), &creation, &exit, &kernel1, &user1)) return 0;
  const int64_t busy = (ticks(kernel1) + ticks(user1)) - (ticks(kernel0) + ticks(user0));
  return CpuPercent(busy, ticks(wall1) - ticks(wall0), processors);
}

int32_t Process::LookupCpuUsage(DWORD processId) {
  std::shared_ptr<CpuUsageTable> table;
  {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    table = g_cpuTable;
  }
  return table ? table->lookup(processId) : 0;
}

}  // namespace hk::processes
