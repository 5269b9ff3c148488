// hk_test_service.exe registered under a name of its own while the object
// lives; the first one made removes leftovers of runs that died halfway.
#pragma once
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "infra/win_resource.h"
#include "support/scratch_dir.h"

namespace hk::test {

inline constexpr wchar_t kTestServicePrefix[] = L"hk-svc-test-";

inline void stop_and_delete(SC_HANDLE service) {
  SERVICE_STATUS status{};
  ::ControlService(service, SERVICE_CONTROL_STOP, &status);
  for (int i = 0; i < 200 && ::QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
    ::Sleep(50);
  ::DeleteService(service);
}

// Calls f with the name of each Win32 service, in the manager's order.
template <typename F>
void ForEachWin32Service(SC_HANDLE manager, F f) {
  std::vector<BYTE> buffer(1 << 20);
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.data());
  DWORD needed = 0, count = 0, resume = 0;
  ::EnumServicesStatusW(manager, SERVICE_WIN32, SERVICE_STATE_ALL, entries, static_cast<DWORD>(buffer.size()), &needed,
                        &count, &resume);
  for (DWORD i = 0; i < count; ++i) f(entries[i].lpServiceName);
}

// The test services of programs that are gone (another test program may be
// using the prefix right now).
inline void remove_leftover_test_services(SC_HANDLE manager) {
  ForEachWin32Service(manager, [&](const std::wstring& name) {
    if (name.rfind(kTestServicePrefix, 0) != 0) return;
    const DWORD owner = std::wcstoul(name.c_str() + std::wcslen(kTestServicePrefix), nullptr, 10);
    hk::unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, owner));
    if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) return;
    hk::unique_schandle service(::OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
    if (service) stop_and_delete(service.get());
  });
}

class RegisteredService {
 public:
  // arguments follow the quoted program path; nameSuffix ends the generated name.
  explicit RegisteredService(const std::wstring& arguments = L"", const std::wstring& nameSuffix = L"") {
    static std::atomic<int> counter{0};
    manager_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager_) return;
    static std::atomic<bool> cleaned{false};
    if (!cleaned.exchange(true)) remove_leftover_test_services(manager_.get());

    name_ =
        kTestServicePrefix + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + nameSuffix;
    displayName_ = L"Hostkeeper test service \u00e9 " + name_;
    description_ = L"Runs until stopped \u2013 " + name_;
    binaryPath_ = L"\"" + (ExecutableFolder() / L"hk_test_service.exe").wstring() + L"\"" +
                  (arguments.empty() ? L"" : L" " + arguments);
    service_.reset(::CreateServiceW(manager_.get(), name_.c_str(), displayName_.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                    binaryPath_.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    SERVICE_DESCRIPTIONW description{description_.data()};
    if (service_) ::ChangeServiceConfig2W(service_.get(), SERVICE_CONFIG_DESCRIPTION, &description);
  }
  ~RegisteredService() {
    if (service_) stop_and_delete(service_.get());
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
  bool wait_for(DWORD state, DWORD timeoutMs = 10000) const {
    for (const DWORD start = ::GetTickCount(); this->state() != state; ::Sleep(20))
      if (::GetTickCount() - start > timeoutMs) return false;
    return true;
  }
  bool start_directly() const { return ::StartServiceW(service_.get(), 0, nullptr) && wait_for(SERVICE_RUNNING); }

  // The start type (MAXDWORD when unreadable) and the account it runs as.
  std::pair<DWORD, std::wstring> config() const {
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    if (!::QueryServiceConfigW(service_.get(), config, 8192, &needed)) return {MAXDWORD, L""};
    return {config->dwStartType, config->lpServiceStartName ? config->lpServiceStartName : L""};
  }

 private:
  hk::unique_schandle manager_, service_;
  std::wstring name_, displayName_, description_, binaryPath_;
};

}  // namespace hk::test
