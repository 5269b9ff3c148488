// The device tool's pure part: identifiers, the action program's command
// line, property values and verdicts.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "tools/devices/device_render.h"

namespace {

using namespace hk::devices;

TEST(DeviceRender, EscapedIdentifiers) {
  struct Row {
    const wchar_t *text, *deviceId, *classGuid;
  };
  const Row rows[] = {
      {L"PCIDEVMGR_SLASHVEN_8086DEVMGR_SLASH3&1", L"PCI\\VEN_8086\\3&1", L"PCIDEVMGR_SLASHVEN_8086DEVMGR_SLASH3&1"},
      {L"DEVMGR_OPENabcDEVMGR_CLOSE", L"{abc}", L"{abc}"},
      {L"SWDDEVMGR_SLASHDEVMGR_OPENxDEVMGR_CLOSEDEVMGR_SLASHDEVMGR_SLASH", L"SWD\\{x}\\\\", L"SWDDEVMGR_SLASH{x}DEVMGR_SLASHDEVMGR_SLASH"},
      {L"devmgr_slash DEVMGR_SLAS", L"devmgr_slash DEVMGR_SLAS", L"devmgr_slash DEVMGR_SLAS"},  // tokens are exact
      {L"", L"", L""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(UnescapeDeviceId(row.text), row.deviceId) << row.text;
    EXPECT_EQ(UnescapeClassGuid(row.text), row.classGuid) << row.text;
  }
}

TEST(DeviceRender, ActionProgramArguments) {
  struct Row {
    const char* action;
    const wchar_t *classGuid, *deviceId, *arguments;
  };
  const Row rows[] = {
      {"ENABLE", L"{G}", L"ROOT\\X\\0", L" {G} ROOT\\X\\0 Change 1"},
      {"enable", L"{G}", L"ROOT\\X\\0", L" {G} ROOT\\X\\0 Change 1"},
      {"Disable", L"{G}", L"ID", L" {G} ID Change 2"},
      {"uninstall", L"{G}", L"ID", L" {G} ID Uninstall"},
      {"UPDATE", L"{G}", L"ID", L" {G} ID Update"},
      {"restart", L"{G}", L"ID", L" {G} ID "},
      {"ENABLED", L"{G}", L"ID", L" {G} ID "},
      {"", L"{G}", L"ID", L" {G} ID "},
      {"ENABLE", L"{a b}", L"USB\\my device\\1", L" \"{a b}\" \"USB\\my device\\1\" Change 1"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(DevExeArguments(row.action, row.classGuid, row.deviceId), row.arguments) << row.action;
  }
}

TEST(DeviceRender, ActionProgramFolderAndName) {
  EXPECT_EQ(DevExeFolder(L"C:\\Agent\\bin\\agent.exe"), L"C:\\Agent\\bin\\");
  EXPECT_EQ(DevExeFolder(L"C:\\Program Files\\Agent\\host\\x.exe"), L"C:\\Program Files\\Agent\\bin\\");
  EXPECT_EQ(DevExeFolder(L"C:\\Agent\\agent.exe"), L"C:\\bin\\");
  EXPECT_EQ(DevExeFolder(L"C:\\agent.exe"), L"C:\\bin\\");
  EXPECT_STREQ(DevExeName(true), L"DevExe64.exe");
  EXPECT_STREQ(DevExeName(false), L"DevExe32.exe");
}

TEST(DeviceRender, VerdictRestsOnTheStatusAfterwards) {
  struct Row {
    const char* action;
    const wchar_t* status;
    bool success;
  };
  const Row rows[] = {
      {"ENABLE", L"OK", true},     {"enable", L"ok", true},     {"ENABLE", L"Error", false},
      {"ENABLE", L"", false},      {"DISABLE", L"OK", false},   {"disable", L"Error", true},
      {"DISABLE", L"", true},      {"UNINSTALL", L"OK", false}, {"UNINSTALL", L"", false},
      {"UPDATE", L"OK", false},    {"other", L"OK", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ActionSucceeded(row.action, row.status), row.success) << row.action << " " << hk::ToUtf8(row.status);
  }
}

TEST(DeviceRender, PropertyValuesByCimType) {
  VARIANT number, text, empty, null;
  ::VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = 3;
  ::VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = ::SysAllocString(L"P\u00e9riph\u00e9rique");
  ::VariantInit(&empty);
  ::VariantInit(&null);
  null.vt = VT_NULL;
  struct Row {
    const wchar_t* name;
    const VARIANT* value;
    CIMTYPE type;
    const char* expected;  // null: no row
  };
  const Row rows[] = {
      {L"Availability", &number, CIM_UINT16, "Running/Full Power"},
      {L"Availability", &number, CIM_UINT32, nullptr},
      {L"Availability", &null, CIM_UINT16, nullptr},
      {L"Name", &text, CIM_STRING, "P\xC3\xA9riph\xC3\xA9rique"},
      {L"HardwareID", &text, CIM_STRING | CIM_FLAG_ARRAY, nullptr},
      {L"InstallDate", &text, CIM_DATETIME, nullptr},
      {L"ConfigManagerErrorCode", &number, CIM_UINT32, nullptr},
      {L"Caption", &number, CIM_STRING, nullptr},
      {L"Caption", &empty, CIM_STRING, nullptr},
  };
  for (const Row& row : rows) {
    const auto value = PropertyValue(row.name, *row.value, row.type);
    EXPECT_EQ(value.has_value(), row.expected != nullptr) << hk::ToUtf8(row.name) << " " << row.type;
    if (value && row.expected) EXPECT_EQ(*value, row.expected) << hk::ToUtf8(row.name);
  }
  ::VariantClear(&text);
  for (uint32_t value : {0u, 22u, 65535u}) EXPECT_STREQ(AvailabilityName(value), "") << value;
  EXPECT_STREQ(AvailabilityName(1), "Other");
  EXPECT_STREQ(AvailabilityName(13), "Power Save - Unknown");
  EXPECT_STREQ(AvailabilityName(21), "Quiesced");
}

}  // namespace
