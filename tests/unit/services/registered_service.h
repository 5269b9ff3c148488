// hk_test_service.exe registered as a real service in the test prefix under a
// name of its own, stopped and deleted again when the object goes. Leftovers
// of an earlier run that died halfway are removed when the first one is made.
#pragma once
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "infra/win_resource.h"

namespace hk::test {

inline constexpr wchar_t kTestServicePrefix[] = L"hk-svc-test-";

inline std::wstring test_program_folder() {
  wchar_t path[MAX_PATH] = L"";
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

// Asks a service to stop and waits up to timeoutMs until it has.
inline void stop_and_wait(SC_HANDLE service, DWORD timeoutMs) {
  SERVICE_STATUS status{};
  ::ControlService(service, SERVICE_CONTROL_STOP, &status);
  const DWORD start = ::GetTickCount();
  while (::QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
         ::GetTickCount() - start < timeoutMs) {
    ::Sleep(50);
  }
}

inline void delete_service(SC_HANDLE manager, const wchar_t* name) {
  hk::unique_schandle service(::OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
  if (!service) return;
  stop_and_wait(service.get(), 10000);
  ::DeleteService(service.get());
}

inline void remove_leftover_test_services(SC_HANDLE manager) {
  DWORD needed = 0, count = 0, resume = 0;
  ::EnumServicesStatusW(manager, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed, &count, &resume);
  std::vector<BYTE> buffer(needed + 1024);
  resume = 0;
  if (!::EnumServicesStatusW(manager, SERVICE_WIN32, SERVICE_STATE_ALL,
                             reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.data()), static_cast<DWORD>(buffer.size()),
                             &needed, &count, &resume)) {
    return;
  }
  const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSW*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    const std::wstring name(entries[i].lpServiceName);
    if (name.rfind(kTestServicePrefix, 0) != 0) continue;
    // Another test program may be using the prefix right now: only the
    // services of programs that are gone are leftovers.
    const DWORD owner = std::wcstoul(name.c_str() + std::wcslen(kTestServicePrefix), nullptr, 10);
    hk::unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, owner));
    if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) continue;
    delete_service(manager, name.c_str());
  }
}

class RegisteredService {
 public:
  // arguments: appended to the quoted program path in the configured command
  // line; nameSuffix: appended to the service's generated name.
  explicit RegisteredService(const std::wstring& arguments = L"", const std::wstring& nameSuffix = L"") {
    static std::atomic<int> counter{0};
    manager_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager_) return;
    static std::atomic<bool> cleaned{false};
    if (!cleaned.exchange(true)) remove_leftover_test_services(manager_.get());

    name_ = kTestServicePrefix + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + nameSuffix;
    displayName_ = L"Hostkeeper test service \u00e9 " + name_;
    description_ = L"Runs until stopped \u2013 " + name_;
    binaryPath_ = L"\"" + test_program_folder() + L"\\hk_test_service.exe\"";
    if (!arguments.empty()) binaryPath_ += L" " + arguments;

    service_.reset(::CreateServiceW(manager_.get(), name_.c_str(), displayName_.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                    binaryPath_.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service_) return;
    SERVICE_DESCRIPTIONW description{description_.data()};
    ::ChangeServiceConfig2W(service_.get(), SERVICE_CONFIG_DESCRIPTION, &description);
  }
  RegisteredService(const RegisteredService&) = delete;
  RegisteredService& operator=(const RegisteredService&) = delete;
  ~RegisteredService() {
    if (!service_) return;
    stop_and_wait(service_.get(), 10000);
    ::DeleteService(service_.get());
  }

  bool created() const { return service_.valid(); }
  const std::wstring& name() const { return name_; }
  const std::wstring& display_name() const { return displayName_; }
  const std::wstring& description() const { return description_; }
  const std::wstring& binary_path() const { return binaryPath_; }

  SERVICE_STATUS_PROCESS status() const {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    ::QueryServiceStatusEx(service_.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                           &needed);
    return status;
  }
  DWORD state() const { return status().dwCurrentState; }

  // The configuration as the manager keeps it; start type MAXDWORD and an
  // empty account when it cannot be read.
  DWORD start_type() const { return config().startType; }
  std::wstring account() const { return config().account; }

  bool wait_for(DWORD state, DWORD timeoutMs = 10000) const {
    const DWORD start = ::GetTickCount();
    for (;;) {
      if (this->state() == state) return true;
      if (::GetTickCount() - start > timeoutMs) return false;
      ::Sleep(20);
    }
  }

  // Starts it without the tool under test and waits until it runs.
  bool start_directly() const { return ::StartServiceW(service_.get(), 0, nullptr) && wait_for(SERVICE_RUNNING); }

 private:
  struct Config {
    DWORD startType = MAXDWORD;
    std::wstring account;
  };
  Config config() const {
    Config out;
    DWORD needed = 0;
    ::QueryServiceConfigW(service_.get(), nullptr, 0, &needed);
    if (needed == 0) return out;
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!::QueryServiceConfigW(service_.get(), config, needed, &needed)) return out;
    out.startType = config->dwStartType;
    if (config->lpServiceStartName) out.account = config->lpServiceStartName;
    return out;
  }

  hk::unique_schandle manager_;
  hk::unique_schandle service_;
  std::wstring name_;
  std::wstring displayName_;
  std::wstring description_;
  std::wstring binaryPath_;
};

}  // namespace hk::test
