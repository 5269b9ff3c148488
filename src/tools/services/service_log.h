// Log lines of the service tool that sit between a failed call and the
// caller's answer, which carries the system message of GetLastError().
#pragma once
#include <windows.h>

#include "infra/log.h"

namespace hk::services {

inline void LogKeepingError(const wchar_t* line) {
  const DWORD error = ::GetLastError();
  WriteLog(line);
  ::SetLastError(error);
}

}  // namespace hk::services
