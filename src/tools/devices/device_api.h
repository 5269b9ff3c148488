// The Windows calls of the device tool that tests redirect: SetupAPI's class
// list (Wine has no class image list) and the pause before a device's status
// is read back after an action. Production never changes g_deviceApi.
#pragma once
#include <windows.h>
#include <setupapi.h>

namespace hk::devices {

struct DeviceApi {
  BOOL(WINAPI* getClassImageList)(PSP_CLASSIMAGELIST_DATA);
  BOOL(WINAPI* destroyClassImageList)(PSP_CLASSIMAGELIST_DATA);
  HDEVINFO(WINAPI* getClassDevs)(const GUID*, PCWSTR, HWND, DWORD);
  BOOL(WINAPI* enumDeviceInfo)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
  BOOL(WINAPI* getDeviceRegistryProperty)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
  BOOL(WINAPI* getClassImageIndex)(PSP_CLASSIMAGELIST_DATA, const GUID*, PINT);
  BOOL(WINAPI* getClassDescription)(const GUID*, PWSTR, DWORD, PDWORD);
  BOOL(WINAPI* destroyDeviceInfoList)(HDEVINFO);
  void(WINAPI* sleep)(DWORD);
};

extern DeviceApi g_deviceApi;
DeviceApi SystemDeviceApi();

// Owners whose release goes through g_deviceApi, so a fake's handles are
// never handed to the real SetupAPI.
class DeviceInfoList {
 public:
  explicit DeviceInfoList(HDEVINFO set) : set_(set) {}
  DeviceInfoList(const DeviceInfoList&) = delete;
  DeviceInfoList& operator=(const DeviceInfoList&) = delete;
  ~DeviceInfoList() {
    if (valid()) g_deviceApi.destroyDeviceInfoList(set_);
  }
  bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

class ClassImageList {
 public:
  ClassImageList() {
    data_.cbSize = sizeof data_;
    valid_ = g_deviceApi.getClassImageList(&data_) != FALSE;
  }
  ClassImageList(const ClassImageList&) = delete;
  ClassImageList& operator=(const ClassImageList&) = delete;
  ~ClassImageList() {
    if (valid_) g_deviceApi.destroyClassImageList(&data_);
  }
  bool valid() const { return valid_; }
  SP_CLASSIMAGELIST_DATA* get() { return &data_; }

 private:
  SP_CLASSIMAGELIST_DATA data_{};
  bool valid_ = false;
};

}  // namespace hk::devices
