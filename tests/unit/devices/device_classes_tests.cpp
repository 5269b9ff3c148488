// The device classes from SetupAPI: the fake for the class image list Wine
// lacks, and Wine's real class list.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "devices/fake_device_api.h"
#include "tools/devices/DeviceManager.h"

namespace {

using hk::devices::CollectDeviceClasses;
using hk::test::FakeDeviceApi;

// {0000000N-0000-0000-0000-000000000000}
GUID Guid(unsigned long n) { return GUID{n, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}; }
std::wstring Text(unsigned long n) {
  wchar_t text[40] = {};
  ::StringFromGUID2(Guid(n), text, 40);
  return text;
}

TEST(DeviceClasses, OncePerDescriptionSortedByUtf8AndOnlyComplete) {
  FakeDeviceApi api;
  api.classes[Text(1)] = {L"System devices", true};
  api.classes[Text(2)] = {L"P\u00e9riph\u00e9riques", true};  // sorts after every ASCII letter
  api.classes[Text(3)] = {L"Disk drives", true};
  api.classes[Text(4)] = {L"Disk drives", true};  // same description, later device wins
  api.classes[Text(5)] = {std::nullopt, true};    // no description
  api.classes[Text(6)] = {L"No icon", false};
  api.classes[Text(7)] = {L"No class name", true};
  api.devices = {{Guid(1)}, {Guid(2)}, {Guid(3)}, {Guid(1)}, {Guid(4)}, {Guid(5)}, {Guid(6)}, {Guid(7), false}};

  const auto classes = CollectDeviceClasses();
  const hk::devices::DeviceClasses expected = {
      {"Disk drives", Text(4)}, {"P\xC3\xA9riph\xC3\xA9riques", Text(2)}, {"System devices", Text(1)}};
  EXPECT_EQ(classes, expected);
  EXPECT_EQ(api.listsOpen, 0);
  EXPECT_EQ(api.imagesOpen, 0);

  const Json::Value rows = hk::devices::ClassRowsJson(classes);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["DEVICE_NAME"], "Disk drives");
  EXPECT_EQ(rows[0]["DEVICE_GUID"], hk::ToUtf8(Text(4)));
}

TEST(DeviceClasses, WithoutImageListTheIconTestIsLeftOut) {
  FakeDeviceApi api;
  api.imageListAvailable = false;
  api.classes[Text(6)] = {L"No icon", false};
  api.devices = {{Guid(6)}};
  EXPECT_EQ(CollectDeviceClasses().count("No icon"), 1u);
}

TEST(DeviceClasses, NoDeviceListGivesNoClasses) {
  FakeDeviceApi api;
  api.listAvailable = false;
  api.classes[Text(1)] = {L"System devices", true};
  api.devices = {{Guid(1)}};
  EXPECT_TRUE(CollectDeviceClasses().empty());
  EXPECT_EQ(api.imagesOpen, 0);
}

// Wine lists a few present devices and has no class image list.
TEST(DeviceClassesReal, WineClassesHaveDescriptionsAndGuids) {
  const auto classes = CollectDeviceClasses();
  EXPECT_FALSE(classes.empty());
  for (const auto& [description, guid] : classes) {
    EXPECT_FALSE(description.empty());
    EXPECT_EQ(guid.size(), 38u) << description;
    EXPECT_EQ(guid.front(), L'{') << description;
  }
}

}  // namespace
