// The device classes present, as Device Manager shows them: each class of a
// present device that has a class name, an icon and a description.
#include <windows.h>
#include <objbase.h>

#include <memory>
#include <vector>

#include "core/text.h"
#include "tools/devices/DeviceManager.h"
#include "tools/devices/device_api.h"

namespace hk::devices {
namespace {

constexpr DWORD kClassNameBytes = 2048;
constexpr DWORD kDescriptionChars = 260;

std::wstring GuidText(const GUID& guid) {
  LPOLESTR raw = nullptr;
  if (FAILED(::StringFromCLSID(guid, &raw))) return std::wstring();
  const std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)> text(raw, &::CoTaskMemFree);
  return text ? std::wstring(text.get()) : std::wstring();
}

}  // namespace

DeviceApi SystemDeviceApi() {
  return {&::SetupDiGetClassImageList,    &::SetupDiDestroyClassImageList,      &::SetupDiGetClassDevsW,
          &::SetupDiEnumDeviceInfo,       &::SetupDiGetDeviceRegistryPropertyW, &::SetupDiGetClassImageIndex,
          &::SetupDiGetClassDescriptionW, &::SetupDiDestroyDeviceInfoList,      &::Sleep};
}

DeviceApi g_deviceApi = SystemDeviceApi();

DeviceClasses CollectDeviceClasses() {
  DeviceClasses classes;
  // Wine has no class image list; the icon test is then left out rather than
  // every class.
  ClassImageList images;
  const DeviceInfoList devices(g_deviceApi.getClassDevs(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
  if (!devices.valid()) return classes;

  std::vector<BYTE> className(kClassNameBytes);
  std::vector<wchar_t> description(kDescriptionChars);
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!g_deviceApi.enumDeviceInfo(devices.get(), index, &device)) break;
    if (!g_deviceApi.getDeviceRegistryProperty(devices.get(), &device, SPDRP_CLASS, nullptr, className.data(),
                                               kClassNameBytes, nullptr)) {
      continue;
    }
    int imageIndex = 0;
    if (images.valid() && !g_deviceApi.getClassImageIndex(images.get(), &device.ClassGuid, &imageIndex)) continue;
    description.assign(kDescriptionChars, L'\0');
    if (!g_deviceApi.getClassDescription(&device.ClassGuid, description.data(), kDescriptionChars, nullptr)) {
      continue;
    }
    description.back() = L'\0';
    classes[ToUtf8(description.data())] = GuidText(device.ClassGuid);
  }
  return classes;
}

}  // namespace hk::devices
