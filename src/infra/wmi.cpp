#include "infra/wmi.h"

#include "infra/log.h"

wmi g_objWmiHandler;

namespace hk::wbem {

namespace {
// Successful CoInitializeEx calls of ini_com on this thread not yet balanced.
thread_local int t_com_entries = 0;
}  // namespace

HRESULT CreateSystemLocator(IWbemLocator** locator) {
  return ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                            reinterpret_cast<void**>(locator));
}

LocatorFactory g_locatorFactory = &CreateSystemLocator;

void LeaveCom() {
  if (t_com_entries > 0) {
    --t_com_entries;
    ::CoUninitialize();
  }
}

void Connection::Close(com_ptr<IEnumWbemClassObject> enumerator) {
  if (!services_) return;
  services_.Reset();
  locator_.Reset();
  enumerator.Reset();
  LeaveCom();
}

Connection Open(wmi& w) {
  w.ini_com();
  auto locator = w.create_instance();
  auto services = w.connect(locator);
  if (!w.security(services, locator)) return {};
  return Connection(std::move(services), std::move(locator));
}

}  // namespace hk::wbem

namespace {

// A step that failed ends the request: its line, the interfaces it was given
// released, COM left.
template <typename... Interfaces>
void end_request(const wchar_t* line, Interfaces&... held) {
  WriteLog(line);
  (held.Reset(), ...);
  hk::wbem::LeaveCom();
}

}  // namespace

wmi::wmi() { WriteLog(L"Logger initialized in Wmi || wmi::wmi() ||"); }

HRESULT wmi::ini_com() {
  const HRESULT entered = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(entered)) {
    WriteLog(L"Failed(CoInitializeEx) in -> ||wmi::ini_com()|| ");
  } else {
    ++hk::wbem::t_com_entries;
  }
  const HRESULT secured = ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  // A second request in the process always lands here (RPC_E_TOO_LATE); the
  // security set by the first one stays, so the sequence goes on.
  if (FAILED(secured)) WriteLog(L"Failed(CoInitializeSecurity) in -> ||wmi::ini_com()|| ");
  return secured;
}

hk::com_ptr<IWbemLocator> wmi::create_instance() {
  hk::com_ptr<IWbemLocator> locator;
  const HRESULT hr = hk::wbem::g_locatorFactory(locator.ReleaseAndGetAddressOf());
  if (FAILED(hr) || !locator) end_request(L"Failed(CoCreateInstance) in -> ||wmi::create_instance||", locator);
  return locator;
}

hk::com_ptr<IWbemServices> wmi::connect(hk::com_ptr<IWbemLocator>& locator) {
  hk::com_ptr<IWbemServices> services;
  if (!locator) return services;
  const hk::unique_bstr resource(::SysAllocString(L"ROOT\\CIMV2"));
  const HRESULT hr = locator->ConnectServer(resource.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                            services.ReleaseAndGetAddressOf());
  if (FAILED(hr) || !services) end_request(L"Failed(ConnectServer) in -> ||wmi::connect||", services, locator);
  return services;
}

bool wmi::security(hk::com_ptr<IWbemServices>& services, hk::com_ptr<IWbemLocator>& locator) {
  if (!services) return false;
  const HRESULT hr = ::CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                         RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) {
    end_request(L"Failed(CoSetProxyBlanket) in -> ||wmi::security||", services, locator);
    return false;
  }
  return true;
}
