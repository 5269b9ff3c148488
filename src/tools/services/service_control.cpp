#include <algorithm>

#include "infra/log.h"
#include "tools/services/Service.h"

namespace {
constexpr DWORD kIdlePollMs = 50;
}  // namespace

hk::unique_schandle Service::OpenManager() {
  try {
    hk::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) WriteLog(L"Unable to open ServiceManager : ");
    return manager;
  } catch (...) {
    WriteLog(L"Error caught while opening Service Manager");
    return {};
  }
}

hk::unique_schandle Service::OpenService(SC_HANDLE manager, const std::wstring& name, DWORD access) {
  try {
    hk::unique_schandle service(::OpenServiceW(manager, name.c_str(), access));
    if (!service) WriteLog(L"unable to open service : ");
    return service;
  } catch (...) {
    WriteLog(L"Error caught while opening Service ");
    return {};
  }
}

hk::unique_schandle Service::OpenService(SC_HANDLE manager, const std::wstring& name) {
  return OpenService(manager, name, SERVICE_ALL_ACCESS);
}

int Service::Start(SC_HANDLE service) {
  try {
    if (::StartServiceW(service, 0, nullptr)) return 1;
    WriteLog(L"Unable to start Service Error : ");
    return 0;
  } catch (...) {
    WriteLog(L"Error was caught while starting servie");
    return 2;
  }
}

int Service::Stop(SC_HANDLE service, DWORD timeoutMs) {
  try {
    const DWORD start = ::GetTickCount();
    SERVICE_STATUS status{};
    if (!::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
      WriteLog(L"Unable to stop Service Error : ");
      return 0;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) return 1;
    for (;;) {
      // The service's own hint, but never past the time-out: a service that
      // claims minutes (or 0xFFFFFFFF) would hold every later request. A
      // hint of 0 still pauses briefly instead of spinning.
      // Unsigned, so the tick count wrapping after 49.7 days does no harm.
      const DWORD elapsed = ::GetTickCount() - start;
      const DWORD left = elapsed < timeoutMs ? timeoutMs - elapsed : 0;
      ::Sleep(std::min(status.dwWaitHint == 0 ? kIdlePollMs : status.dwWaitHint, left + 1));
      if (!::QueryServiceStatus(service, &status)) return 0;
      if (status.dwCurrentState == SERVICE_STOPPED) return 1;
      if (::GetTickCount() - start > timeoutMs) return 0;
    }
  } catch (...) {
    WriteLog(L"Error was caught while stopping service");
    return 2;
  }
}

int Service::change_service_type(const std::wstring& name, int startType) {
  try {
    const hk::unique_schandle manager = OpenManager();
    if (!manager) {
      WriteLog(L"Service Manager returned NULL in Service::change_service_type()");
      return 0;
    }
    const hk::unique_schandle service = OpenService(manager.get(), name);
    if (!service) {
      WriteLog(L"Service returned NULL in Service::change_service_type()");
      return 0;
    }
    const BOOL changed =
        ::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, static_cast<DWORD>(startType), SERVICE_NO_CHANGE,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    return changed == 1 ? 1 : 0;
  } catch (...) {
    WriteLog(L"Error was caught in Service::change_service_type()");
    return 0;
  }
}
