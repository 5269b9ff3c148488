// What the listing learns about one process, before it becomes a JSON row.
#pragma once
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <optional>
#include <string>

namespace hk::processes {

// Facts that need the process opened for query.
struct OpenedProcessFacts {
  bool running = false;  // GetExitCodeProcess gave STILL_ACTIVE
  std::optional<std::wstring> path;
  std::optional<std::wstring> description;
  std::optional<PROCESS_MEMORY_COUNTERS> memory;
  std::optional<IO_COUNTERS> io;
  DWORD priorityClass = 0;  // 0 when the query failed
  std::optional<SYSTEMTIME> creationLocalTime;
  uint64_t kernelPlusUser100ns = 0;
  DWORD handleCount = 0;
  std::optional<std::wstring> userName;
};

struct ProcessFacts {
  std::wstring name;  // szExeFile of the snapshot entry
  DWORD processId = 0;
  DWORD threadCount = 0;
  std::optional<DWORD> sessionId;
  std::wstring commandLine;  // "" when it could not be read
  int32_t cpu = 0;
  std::optional<OpenedProcessFacts> opened;  // nothing when the process could not be opened
};

}  // namespace hk::processes
