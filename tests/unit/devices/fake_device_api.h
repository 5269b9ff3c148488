// A SetupAPI class list for tests (Wine's has no class image list), put in
// hk::devices::g_deviceApi while the fake lives. The pause after a device
// action is recorded instead of slept.
#pragma once
#include <windows.h>
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
    devices::g_deviceApi = {&GetImageList, &DestroyImageList, &GetClassDevs, &EnumDevice,
                            &GetProperty,  &GetImageIndex,    &GetDescription, &DestroyList, &Sleep};
  }
  ~FakeDeviceApi() {
    devices::g_deviceApi = saved_;
    current_ = nullptr;
  }
  FakeDeviceApi(const FakeDeviceApi&) = delete;
  FakeDeviceApi& operator=(const FakeDeviceApi&) = delete;

  std::vector<Device> devices;
  std::map<std::wstring, DeviceClass> classes;  // by GUID text in braces, upper case
  bool imageListAvailable = true;
  bool listAvailable = true;

  int listsOpen = 0;   // device lists made and not destroyed
  int imagesOpen = 0;  // image lists made and not destroyed
  std::vector<DWORD> sleeps;

 private:
  static inline FakeDeviceApi* current_ = nullptr;
  static inline const HDEVINFO kList = reinterpret_cast<HDEVINFO>(0x5e7);
  static inline const HIMAGELIST kImages = reinterpret_cast<HIMAGELIST>(0x1e7);

  static const DeviceClass* Find(const GUID* guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(*guid, text, 40);
    const auto found = current_->classes.find(text);
    return found == current_->classes.end() ? nullptr : &found->second;
  }
  static BOOL WINAPI Fail(DWORD error) {
    ::SetLastError(error);
    return FALSE;
  }
  static BOOL WINAPI GetImageList(PSP_CLASSIMAGELIST_DATA data) {
    if (!current_->imageListAvailable) return Fail(ERROR_NO_MORE_ITEMS);
    data->ImageList = kImages;
    ++current_->imagesOpen;
    return TRUE;
  }
  static BOOL WINAPI DestroyImageList(PSP_CLASSIMAGELIST_DATA data) {
    if (data->ImageList != kImages) return Fail(ERROR_INVALID_PARAMETER);
    --current_->imagesOpen;
    return TRUE;
  }
  static HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCWSTR enumerator, HWND, DWORD flags) {
    if (!current_->listAvailable || guid || enumerator || flags != (DIGCF_PRESENT | DIGCF_ALLCLASSES)) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    ++current_->listsOpen;
    return kList;
  }
  static BOOL WINAPI EnumDevice(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA data) {
    if (list != kList || data->cbSize != sizeof *data) return Fail(ERROR_INVALID_PARAMETER);
    if (index >= current_->devices.size()) return Fail(ERROR_NO_MORE_ITEMS);
    data->ClassGuid = current_->devices[index].classGuid;
    data->DevInst = index + 1;
    return TRUE;
  }
  static BOOL WINAPI GetProperty(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property, PDWORD, PBYTE buffer,
                                 DWORD size, PDWORD) {
    if (list != kList || property != SPDRP_CLASS || size < 16) return Fail(ERROR_INVALID_PARAMETER);
    if (!current_->devices[data->DevInst - 1].hasClassName) return Fail(ERROR_INVALID_DATA);
    wcscpy(reinterpret_cast<wchar_t*>(buffer), L"Class");
    return TRUE;
  }
  static BOOL WINAPI GetImageIndex(PSP_CLASSIMAGELIST_DATA data, const GUID* guid, PINT index) {
    const DeviceClass* found = Find(guid);
    if (data->ImageList != kImages || !found || !found->hasImage) return Fail(ERROR_NOT_FOUND);
    *index = 1;
    return TRUE;
  }
  static BOOL WINAPI GetDescription(const GUID* guid, PWSTR buffer, DWORD size, PDWORD) {
    const DeviceClass* found = Find(guid);
    if (!found || !found->description) return Fail(ERROR_INVALID_CLASS);
    if (found->description->size() >= size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    wcscpy(buffer, found->description->c_str());
    return TRUE;
  }
  static BOOL WINAPI DestroyList(HDEVINFO list) {
    if (list != kList) return Fail(ERROR_INVALID_HANDLE);
    --current_->listsOpen;
    return TRUE;
  }
  static void WINAPI Sleep(DWORD ms) { current_->sleeps.push_back(ms); }

  devices::DeviceApi saved_;
};

}  // namespace hk::test
