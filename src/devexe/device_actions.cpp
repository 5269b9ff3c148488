#include "device_actions.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include <string>

namespace devexe {
namespace {

// newdev.dll's functions exist from Windows 7 (DiUninstallDevice) and Vista
// (DiInstallDevice); they are looked up so the program still starts where
// they do not.
using DiUninstallDeviceFn = BOOL(WINAPI*)(HWND, HDEVINFO, PSP_DEVINFO_DATA, DWORD, PBOOL);
using DiInstallDeviceFn = BOOL(WINAPI*)(HWND, HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W, DWORD, PBOOL);
using CmMapCrToWin32ErrFn = DWORD(WINAPI*)(CONFIGRET, DWORD);

class Library {
 public:
  explicit Library(const wchar_t* name) {
    // From the system folder only, never from beside the program.
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    module_ = ::LoadLibraryW((std::wstring(folder) + L"\\" + name).c_str());
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library() {
    if (module_) ::FreeLibrary(module_);
  }
  template <typename Fn>
  Fn Find(const char* name) const {
    return module_ ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module_, name))) : nullptr;
  }

 private:
  HMODULE module_ = nullptr;
};

class DeviceSet {
 public:
  explicit DeviceSet(const GUID& classGuid) : set_(::SetupDiCreateDeviceInfoList(&classGuid, nullptr)) {}
  DeviceSet(const DeviceSet&) = delete;
  DeviceSet& operator=(const DeviceSet&) = delete;
  ~DeviceSet() {
    if (valid()) ::SetupDiDestroyDeviceInfoList(set_);
  }
  bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

Outcome Failed(const wchar_t* step) { return {::GetLastError(), step, false}; }

// Runs a class installer request with its parameters (null: none).
bool CallInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA& device, SP_CLASSINSTALL_HEADER* params,
                   DWORD size) {
  if (params && !::SetupDiSetClassInstallParamsW(set, &device, params, size)) return false;
  return ::SetupDiCallClassInstaller(function, set, &device) != FALSE;
}

bool InstallerAsksRestart(HDEVINFO set, SP_DEVINFO_DATA& device) {
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  return ::SetupDiGetDeviceInstallParamsW(set, &device, &params) &&
         (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
}

Outcome ChangeState(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD state) {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = state;
  params.Scope = DICS_FLAG_GLOBAL;
  params.HwProfile = 0;
  if (!CallInstaller(DIF_PROPERTYCHANGE, set, device, &params.ClassInstallHeader, sizeof params)) {
    return Failed(L"changing the device's state");
  }
  return {ERROR_SUCCESS, L"", InstallerAsksRestart(set, device)};
}

Outcome Uninstall(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const Library newdev(L"newdev.dll");
  if (const auto uninstall = newdev.Find<DiUninstallDeviceFn>("DiUninstallDevice")) {
    BOOL restart = FALSE;
    if (!uninstall(nullptr, set, &device, 0, &restart)) return Failed(L"uninstalling the device");
    return {ERROR_SUCCESS, L"", restart != FALSE};
  }
  SP_REMOVEDEVICE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = DI_REMOVEDEVICE_GLOBAL;
  params.HwProfile = 0;
  if (!CallInstaller(DIF_REMOVE, set, device, &params.ClassInstallHeader, sizeof params)) {
    return Failed(L"removing the device");
  }
  return {ERROR_SUCCESS, L"", InstallerAsksRestart(set, device)};
}

DWORD ConfigError(CONFIGRET result) {
  const Library cfgmgr(L"cfgmgr32.dll");
  if (const auto map = cfgmgr.Find<CmMapCrToWin32ErrFn>("CM_MapCrToWin32Err")) {
    return map(result, ERROR_GEN_FAILURE);
  }
  return result == CR_NO_SUCH_DEVNODE ? ERROR_FILE_NOT_FOUND : ERROR_GEN_FAILURE;
}

// Re-detects what hangs off the device's node, then installs the best driver
// the driver store holds for it.
Outcome Update(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const CONFIGRET detected = ::CM_Reenumerate_DevNode(device.DevInst, CM_REENUMERATE_NORMAL);
  if (detected != CR_SUCCESS) return {ConfigError(detected), L"re-enumerating the device", false};

  const Library newdev(L"newdev.dll");
  if (const auto install = newdev.Find<DiInstallDeviceFn>("DiInstallDevice")) {
    BOOL restart = FALSE;
    if (!install(nullptr, set, &device, nullptr, 0, &restart)) return Failed(L"installing the best driver");
    return {ERROR_SUCCESS, L"", restart != FALSE};
  }
  if (!::SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER)) return Failed(L"listing compatible drivers");
  if (!CallInstaller(DIF_SELECTBESTCOMPATDRV, set, device, nullptr, 0)) return Failed(L"choosing the best driver");
  if (!CallInstaller(DIF_INSTALLDEVICE, set, device, nullptr, 0)) return Failed(L"installing the best driver");
  return {ERROR_SUCCESS, L"", InstallerAsksRestart(set, device)};
}

}  // namespace

Outcome Run(const Request& request) {
  // A set of the given class: a device of another class is not found.
  const DeviceSet set(request.classGuid);
  if (!set.valid()) return Failed(L"preparing a device list");
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!::SetupDiOpenDeviceInfoW(set.get(), request.deviceId.c_str(), nullptr, 0, &device)) {
    return Failed(L"finding the device");
  }
  switch (request.action) {
    case Action::kEnable:
      return ChangeState(set.get(), device, DICS_ENABLE);
    case Action::kDisable:
      return ChangeState(set.get(), device, DICS_DISABLE);
    case Action::kUninstall:
      return Uninstall(set.get(), device);
    case Action::kUpdate:
      return Update(set.get(), device);
  }
  return {ERROR_INVALID_PARAMETER, L"choosing the action", false};
}

}  // namespace devexe
