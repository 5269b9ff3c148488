#include "tools/processes/process_render.h"

#include <cmath>
#include <ctime>
#include <string>

#include "core/text.h"

namespace hk::processes {
namespace {

Json::Value kib(SIZE_T bytes) { return Json::Value(static_cast<Json::UInt64>(bytes >> 10)); }
Json::Value low32(ULONGLONG count) { return Json::Value(static_cast<Json::UInt>(count & 0xFFFFFFFFu)); }

void add_opened_members(const OpenedProcessFacts& facts, Json::Value& row) {
  row["status"] = facts.running ? "Running" : "Stopped";
  if (facts.path) {
    row["path"] = ToUtf8(*facts.path);
    if (facts.description) row["description"] = ToUtf8(*facts.description);
  }
  if (facts.memory) {
    const PROCESS_MEMORY_COUNTERS& m = *facts.memory;
    row["working_set"] = kib(m.WorkingSetSize);
    row["page_faults"] = static_cast<Json::UInt>(m.PageFaultCount);
    row["page_pool"] = kib(m.QuotaPagedPoolUsage);
    row["np_pool"] = kib(m.QuotaNonPagedPoolUsage);
    row["peak_working"] = kib(m.PeakWorkingSetSize);
    row["commit_size"] = kib(m.PagefileUsage);
  }
  if (facts.io) {
    const IO_COUNTERS& io = *facts.io;
    row["other_transfer_count"] = low32(io.OtherTransferCount);
    row["other_operation_count"] = low32(io.OtherOperationCount);
    row["read_operation_count"] = low32(io.ReadOperationCount);
    row["read_transfer_count"] = low32(io.ReadTransferCount);
    row["write_other_count"] = low32(io.WriteOperationCount);
    row["write_transfer_count"] = low32(io.WriteTransferCount);
  }
  if (const char* priority = PriorityClassName(facts.priorityClass)) row["priority"] = priority;
  row["time"] = facts.creationLocalTime ? FormatCreationTime(*facts.creationLocalTime) : std::string();
  row["cpu_time"] = static_cast<Json::UInt64>(facts.kernelPlusUser100ns / 10000000u);
  if (facts.userName) row["user_name"] = ToUtf8(*facts.userName);
}

}  // namespace

Json::Value RenderProcess(const ProcessFacts& facts) {
  Json::Value row(Json::objectValue);
  if (facts.opened) add_opened_members(*facts.opened, row);
  row["name"] = ToUtf8(facts.name);
  row["command_line"] = ToUtf8(facts.commandLine);
  row["pid"] = std::to_string(facts.processId);
  // A session that cannot be told is left blank rather than shown as session 0.
  row["sid"] = facts.sessionId ? std::to_string(*facts.sessionId) : std::string();
  row["handle_count"] = std::to_string(facts.opened ? facts.opened->handleCount : 0);
  row["thread_count"] = std::to_string(facts.threadCount);
  row["cpu"] = static_cast<Json::Int>(facts.cpu);
  return row;
}

// https://learn.microsoft.com/windows/win32/api/processthreadsapi/nf-processthreadsapi-getpriorityclass
const char* PriorityClassName(DWORD priorityClass) {
  switch (priorityClass) {
    case ABOVE_NORMAL_PRIORITY_CLASS:
      return "ABOVE_NORMAL_PRIORITY_CLASS";
    case BELOW_NORMAL_PRIORITY_CLASS:
      return "BELOW_NORMAL_PRIORITY_CLASS";
    case HIGH_PRIORITY_CLASS:
      return "HIGH_PRIORITY_CLASS";
    case IDLE_PRIORITY_CLASS:
      return "IDLE_PRIORITY_CLASS";
    case NORMAL_PRIORITY_CLASS:
      return "NORMAL_PRIORITY_CLASS";
    case REALTIME_PRIORITY_CLASS:
      return "REALTIME_PRIORITY_CLASS";
    default:
      return nullptr;
  }
}

std::string FormatCreationTime(const SYSTEMTIME& localTime) {
  // The C runtime rejects (or worse) calendar fields out of range, such as
  // the year 1601 of a zero FILETIME.
  if (localTime.wYear < 1900 || localTime.wYear > 9999 || localTime.wMonth < 1 || localTime.wMonth > 12 ||
      localTime.wDay < 1 || localTime.wDay > 31 || localTime.wHour > 23 || localTime.wMinute > 59) {
    return std::string();
  }
  tm calendar{};
  calendar.tm_year = localTime.wYear - 1900;
  calendar.tm_mon = localTime.wMonth - 1;
  calendar.tm_mday = localTime.wDay;
  calendar.tm_hour = localTime.wHour;
  calendar.tm_min = localTime.wMinute;
  char text[30] = {};
  if (std::strftime(text, sizeof text, "%b %d,%Y %H:%M", &calendar) == 0) return std::string();
  // The month name comes in the thread's ANSI code page when a locale is set.
  return ToUtf8(Widen(text));
}

int32_t CpuPercentFromUsage(double usage) {
  if (std::isnan(usage) || usage > 100.0 || usage <= 0.0) return 0;
  return static_cast<int32_t>(usage);
}

int32_t CpuPercent(int64_t cpuDelta100ns, int64_t wallDelta100ns, unsigned processors) {
  const double usage = static_cast<double>(cpuDelta100ns) / static_cast<double>(wallDelta100ns) /
                       static_cast<double>(processors) * 100.0;
  return CpuPercentFromUsage(usage);
}

}  // namespace hk::processes
