// SetupAPI's class list for tests (Wine has no class image list), put in
// hk::devices::g_deviceApi while the fake lives. The pause after a device
// action is recorded, not slept.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <setupapi.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/devices/device_api.h"

namespace hk::test {

class FakeDeviceApi {
 public:
  struct Device {
    GUID classGuid;
    bool hasClassName = true;
  };
  struct DeviceClass {
    std::optional<std::wstring> description;  // nothing: the description call fails
    bool hasImage = true;
  };

  FakeDeviceApi() : saved_(devices::g_deviceApi) {
    current_ = this;
    devices::g_deviceApi = {&GetImageList,  &DestroyImageList, &GetClassDevs, &EnumDevice, &GetProperty,
                            &GetImageIndex, &GetDescription,   &DestroyList,  &Sleep};
  }
  ~FakeDeviceApi() { devices::g_deviceApi = saved_; }
  FakeDeviceApi(const FakeDeviceApi&) = delete;
  FakeDeviceApi& operator=(const FakeDeviceApi&) = delete;

  std::vector<Device> devices;
  std::map<std::wstring, DeviceClass> classes;  // by StringFromGUID2 text
  bool imageList = true, deviceList = true;
  int open = 0;  // device lists and image lists not yet destroyed
  std::vector<DWORD> sleeps;

 private:
  static inline FakeDeviceApi* current_ = nullptr;

  static const DeviceClass* Find(const GUID* guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(*guid, text, 40);
    const auto found = current_->classes.find(text);
    return found == current_->classes.end() ? nullptr : &found->second;
  }
  static BOOL Fail(DWORD error) {
    ::SetLastError(error);
    return FALSE;
  }
  static BOOL WINAPI GetImageList(PSP_CLASSIMAGELIST_DATA) {
    if (!current_->imageList) return Fail(ERROR_NO_MORE_ITEMS);  // as under Wine
    ++current_->open;
    return TRUE;
  }
  static BOOL WINAPI DestroyImageList(PSP_CLASSIMAGELIST_DATA) {
    --current_->open;
    return TRUE;
  }
  static HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCWSTR, HWND, DWORD flags) {
    if (!current_->deviceList || guid || flags != (DIGCF_PRESENT | DIGCF_ALLCLASSES)) return INVALID_HANDLE_VALUE;
    ++current_->open;
    return reinterpret_cast<HDEVINFO>(0x5e7);
  }
  static BOOL WINAPI EnumDevice(HDEVINFO, DWORD index, PSP_DEVINFO_DATA data) {
    if (index >= current_->devices.size()) return Fail(ERROR_NO_MORE_ITEMS);
    data->ClassGuid = current_->devices[index].classGuid;
    data->DevInst = index;
    return TRUE;
  }
  static BOOL WINAPI GetProperty(HDEVINFO, PSP_DEVINFO_DATA data, DWORD property, PDWORD, PBYTE, DWORD, PDWORD) {
    return property == SPDRP_CLASS && current_->devices[data->DevInst].hasClassName ? TRUE : Fail(ERROR_INVALID_DATA);
  }
  static BOOL WINAPI GetImageIndex(PSP_CLASSIMAGELIST_DATA, const GUID* guid, PINT) {
    const DeviceClass* found = Find(guid);
    return found && found->hasImage ? TRUE : Fail(ERROR_NOT_FOUND);
  }
  static BOOL WINAPI GetDescription(const GUID* guid, PWSTR buffer, DWORD size, PDWORD) {
    const DeviceClass* found = Find(guid);
    if (!found || !found->description || found->description->size() >= size) return Fail(ERROR_INVALID_CLASS);
    wcscpy(buffer, found->description->c_str());
    return TRUE;
  }
  static BOOL WINAPI DestroyList(HDEVINFO) {
    --current_->open;
    return TRUE;
  }
  static void WINAPI Sleep(DWORD ms) { current_->sleeps.push_back(ms); }

  devices::DeviceApi saved_;
};

}  // namespace hk::test
