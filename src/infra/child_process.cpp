#include "infra/child_process.h"

#include <cstdint>
#include <string>
#include <vector>

#include "infra/log.h"
#include "infra/win_resource.h"

namespace {

constexpr DWORD kMinuteMs = 60000;
constexpr DWORD kDirectoryBuffer = 4096;
constexpr unsigned kTimedOut = 258;  // WAIT_TIMEOUT

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
IsWow64ProcessFn g_isWow64Process = nullptr;

// Puts the saved working directory back whichever way the call ends.
class DirectoryRestore {
 public:
  explicit DirectoryRestore(std::vector<wchar_t> saved) : saved_(std::move(saved)) {}
  DirectoryRestore(const DirectoryRestore&) = delete;
  DirectoryRestore& operator=(const DirectoryRestore&) = delete;
  ~DirectoryRestore() {
    const DWORD error = ::GetLastError();
    ::SetCurrentDirectoryW(saved_.data());
    ::SetLastError(error);
  }

 private:
  std::vector<wchar_t> saved_;
};

DWORD WaitLimitMs(unsigned minutes, DWORD minuteMs) {
  const uint64_t ms = static_cast<uint64_t>(minutes) * minuteMs;
  return ms >= INFINITE ? INFINITE : static_cast<DWORD>(ms);
}

// CreateProcessW and, with a limit, the wait. Handles are closed on return.
unsigned StartAndWait(const wchar_t* workingDirectory, const wchar_t* commandLine, unsigned minutes, bool show,
                      DWORD minuteMs) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (show) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
  }
  // CreateProcessW may write into the command line; the caller's stays as given.
  std::vector<wchar_t> line(commandLine, commandLine + wcslen(commandLine) + 1);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_DEFAULT_ERROR_MODE,
                        nullptr, workingDirectory, &startup, &info)) {
    const unsigned result = ::GetLastError();
    WriteLog(L"execute : Failed to Create the Process for the application \n");
    return result;
  }
  const hk::unique_handle process(info.hProcess);
  const hk::unique_handle thread(info.hThread);
  WriteLog(L"execute : Process successfully created for application %s \n", commandLine);
  if (minutes == 0) return 0;

  const DWORD wait = ::WaitForSingleObject(process.get(), WaitLimitMs(minutes, minuteMs));
  if (wait == WAIT_FAILED) {
    const unsigned result = ::GetLastError();
    WriteLog(L"execute : WaitForSingleObject Failed with error code %d \n", result);
    return result;
  }
  if (wait != WAIT_OBJECT_0) {
    WriteLog(L"execute : Terminating the Process for application %s as time is exceeded %d Minutes \n", commandLine,
             minutes);
    if (::TerminateProcess(process.get(), 0)) {
      WriteLog(L"execute : The process has been successfully terminated ..! \n");
    } else {
      WriteLog(L"execute : The process termination is failed with error code : %d \n", ::GetLastError());
    }
    return kTimedOut;
  }
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process.get(), &exitCode)) {
    const unsigned result = ::GetLastError();
    WriteLog(L"execute : Unable to find the exit code for the application and the error code is : %d \n", result);
    return result;
  }
  WriteLog(L"execute : Exit code for the application : %d \n", exitCode);
  return exitCode;
}

}  // namespace

unsigned execute(const wchar_t* workingDirectory, wchar_t* commandLine, const wchar_t* /*reserved*/,
                 unsigned timeLimitMinutes, bool showWindow) {
  return hk::ExecuteWithMinute(workingDirectory, commandLine, timeLimitMinutes, showWindow, kMinuteMs);
}

namespace hk {

unsigned ExecuteWithMinute(const wchar_t* workingDirectory, wchar_t* commandLine, unsigned timeLimitMinutes,
                           bool showWindow, DWORD minuteMs) {
  WriteLog(L"@@@@@@@@ Inside execute Method @@@@@@@@ \n");
  if (!commandLine) {
    WriteLog(L"@@@@@@@@ End Of execute Method @@@@@@@@ \n");
    return ERROR_INVALID_PARAMETER;
  }
  unsigned result = 0;
  if (workingDirectory) {
    std::vector<wchar_t> saved(kDirectoryBuffer, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(kDirectoryBuffer, saved.data());
    if (length == 0) {
      result = ::GetLastError();
      WriteLog(L"execute: Failed to get the CurrentWorkingDirectory \n");
      return result;
    }
    if (length > kDirectoryBuffer) {
      WriteLog(L"execute : CurrentWorkingDirectory Buffer overflow. Need to allocate the length for %d chars \n",
               length);
      return length;
    }
    WriteLog(L"execute : Current Working Directory : %s \n", saved.data());
    WriteLog(L"execute : Executing Application Source : %s \n", commandLine);
    WriteLog(L"execute : Set Working Directory : %s \n", workingDirectory);
    if (!::SetCurrentDirectoryW(workingDirectory)) {
      result = ::GetLastError();
      WriteLog(L"execute : Failed to set the WorkingDirectory %s \n ", workingDirectory);
      return result;
    }
    const DirectoryRestore restore(std::move(saved));
    result = StartAndWait(workingDirectory, commandLine, timeLimitMinutes, showWindow, minuteMs);
  } else {
    result = StartAndWait(nullptr, commandLine, timeLimitMinutes, showWindow, minuteMs);
  }
  WriteLog(L"@@@@@@@@ End Of execute Method @@@@@@@@ \n");
  return result;
}

unsigned FilterExecuteResult(unsigned result) {
  // 1641 and 3010 are an installer's "done, restart started / needed".
  switch (result) {
    case 0:
    case 1508:
    case 1641:
    case 3010:
      return 0;
    default:
      return result;
  }
}

unsigned ExecuteFiltered(const wchar_t* workingDirectory, wchar_t* commandLine, unsigned timeLimitMinutes,
                         bool showWindow) {
  return FilterExecuteResult(execute(workingDirectory, commandLine, nullptr, timeLimitMinutes, showWindow));
}

bool IsWow64() {
  const unique_hmodule kernel(::LoadLibraryW(L"kernel32.dll"));
  if (const HMODULE module = ::GetModuleHandleW(L"kernel32")) {
    g_isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, "IsWow64Process")));
  }
  BOOL wow64 = FALSE;
  if (!g_isWow64Process || !g_isWow64Process(::GetCurrentProcess(), &wow64)) return false;
  return wow64 != FALSE;
}

}  // namespace hk
