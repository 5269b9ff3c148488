// Idle child processes (process_sleeper.exe) for the process tool tests and
// benchmark, ended when their owner goes.
#pragma once
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "infra/win_resource.h"
#include "support/scratch_dir.h"

namespace hk::test {

inline std::filesystem::path SleeperPath() { return ExecutableFolder() / L"process_sleeper.exe"; }

class ChildProcess {
 public:
  // Starts image with the command line "\"image\" <sleeper's own arguments>
  // arguments" and waits until the child says it is up. Nothing on failure.
  static std::unique_ptr<ChildProcess> Start(const std::filesystem::path& image, const std::wstring& arguments,
                                             int extraThreads = 0) {
    static std::atomic<int> counter{0};
    const std::wstring readyName =
        L"Local\\hk-proc-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    hk::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    auto child = std::unique_ptr<ChildProcess>(new ChildProcess);
    child->commandLine_ = L"\"" + image.wstring() + L"\" " + std::to_wstring(extraThreads) + L" " + readyName + L" " +
                          std::to_wstring(::GetCurrentProcessId()) + L" " + arguments;
    std::wstring line = child->commandLine_;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!ready || !::CreateProcessW(image.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                    nullptr, &startup, &info))
      return nullptr;
    child->process_.reset(info.hProcess);
    ::CloseHandle(info.hThread);
    HANDLE waits[] = {ready.get(), info.hProcess};
    if (::WaitForMultipleObjects(2, waits, FALSE, 20000) != WAIT_OBJECT_0) return nullptr;
    return child;
  }

  ~ChildProcess() {
    if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(process_.get(), 1);
      ::WaitForSingleObject(process_.get(), 5000);
    }
  }

  DWORD pid() const { return ::GetProcessId(process_.get()); }
  HANDLE handle() const { return process_.get(); }
  const std::wstring& command_line() const { return commandLine_; }

 private:
  ChildProcess() = default;
  hk::unique_handle process_;
  std::wstring commandLine_;
};

}  // namespace hk::test
