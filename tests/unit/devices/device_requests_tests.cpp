// Tool 10's requests end to end inside the library: the dispatcher, the
// fake WMI and SetupAPI, and the stand-in as the device action program.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>
#include <string>

#include "core/messages.h"
#include "core/text.h"
#include "devices/devices_test_support.h"
#include "devices/fake_device_api.h"
#include "support/fake_wmi.h"
#include "support/log_capture.h"
#include "tools/devices/DeviceManager.h"

namespace {

using hk::test::FakeRow;
using hk::test::StandInRecord;

constexpr const wchar_t* kQuery = L"SELECT * FROM Win32_PnPEntity";
constexpr const wchar_t* kDisk = L"{4D36E967-E325-11CE-BFC1-08002BE10318}";

class DeviceRequests : public ::testing::Test {
 protected:
  // The dispatcher's result; the answer in answer_ (null when nothing was built).
  int Request(int code, const Json::Value& data) {
    Json::Value request = data;
    Json::Value response;
    char* text = nullptr;
    const int result = hk::devices::DeviceManagerDispatch(code, &request, &response, &text);
    answer_ = Json::Value();
    if (text) {
      EXPECT_TRUE(Json::Reader().parse(text, answer_)) << text;
      hk::FreeText(text);
    }
    return result;
  }
  const Json::Value& Data() const { return answer_["responseData"]; }
  FakeRow& Device(const wchar_t* id, const wchar_t* classGuid, const wchar_t* status) {
    return wmi_.Results(kQuery).AddRow().Text(L"DeviceID", id).Text(L"ClassGuid", classGuid).Text(L"Status", status);
  }

  hk::test::LogCapture log_;
  hk::test::FakeWmi wmi_;
  hk::test::FakeDeviceApi api_;
  Json::Value answer_;
};

TEST_F(DeviceRequests, AllDevicesListsClassesAndCounts) {
  api_.classes[kDisk] = {L"Disk drives", true};
  api_.devices = {{GUID{0x4d36e967, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}}};
  Device(L"A", kDisk, L"OK");
  Device(L"B", kDisk, L"ok");
  Device(L"C", kDisk, L"Error");
  wmi_.Results(kQuery).AddRow().Text(L"DeviceID", L"D").Null(L"Status", CIM_STRING);
  ASSERT_EQ(Request(10000, Json::Value(Json::objectValue)), 1);  // no keyword: nothing
  EXPECT_TRUE(answer_.isNull());

  Json::Value request;
  request["REQUEST"] = "all_device";
  request["WebClientID"] = "web-1";
  ASSERT_EQ(Request(10000, request), 1);
  EXPECT_EQ(answer_["toolId"], 10);
  EXPECT_EQ(answer_["responseId"], 0);
  EXPECT_EQ(answer_["responseCode"], 10300);
  Json::Value expected(Json::objectValue);
  expected["DEVICE_LIST"][0]["DEVICE_NAME"] = "Disk drives";
  expected["DEVICE_LIST"][0]["DEVICE_GUID"] = hk::ToUtf8(kDisk);
  expected["DRIVERS_COUNT"] = 4;
  expected["DRIVERS_ENABLE_COUNT"] = 2;
  expected["WebClientID"] = "web-1";
  EXPECT_EQ(Data(), expected);
  ASSERT_EQ(wmi_.queries().size(), 1u);
  EXPECT_EQ(wmi_.queries()[0].text, kQuery);
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
}

TEST_F(DeviceRequests, FailuresGiveMarkersAndNoCounts) {
  wmi_.Results(kQuery).FailExecQuery();
  Json::Value request;
  request["REQUEST"] = "ALL_DEVICE";
  ASSERT_EQ(Request(10000, request), 1);
  EXPECT_EQ(Data()["DEVICE_LIST"], "NO_DEVICES_FOUND");
  EXPECT_FALSE(Data().isMember("DRIVERS_COUNT"));
  EXPECT_EQ(Data()["WebClientID"], "");
  EXPECT_TRUE(log_.contains("DEVICE MANAGER getThisDeviceList() Failed to Enumerate...!\n"));
  for (const Json::Value& bad : {Json::Value("text"), Json::Value(7), Json::Value(Json::arrayValue)}) {
    EXPECT_EQ(Request(10002, bad), 1);
    EXPECT_TRUE(answer_.isNull());
  }
  request["REQUEST"] = "GET_THS_DRIVER_INFO";
  EXPECT_EQ(Request(10004, request), 1);
  EXPECT_TRUE(answer_.isNull());
}

TEST_F(DeviceRequests, MembersOfOneClass) {
  Device(L"USB\\ROOT_HUB\\4&1", L"{36fc9e60-c465-11cf-8056-444553540000}", L"OK").Text(L"Name", L"Concentrateur \u00e9");
  Device(L"ACPI\\PNP0303\\0", kDisk, L"OK").Text(L"Name", L"Disk");
  Device(L"USB\\X\\5", L"{36FC9E60-C465-11CF-8056-444553540000}", L"OK");  // no Name
  struct Row {
    const char* guid;
    size_t members;
  };
  for (const Row row : {Row{"36FC9E60-C465-11CF-8056-444553540000", 2}, Row{"{36FC9E60-C465-11CF-8056-444553540000}", 0},
                        Row{"", 0}}) {
    Json::Value request;
    request["REQUEST"] = "Get_Ths_Device";
    request["DEVICE_GUID"] = row.guid;
    ASSERT_EQ(Request(10001, request), 1) << row.guid;
    EXPECT_EQ(answer_["responseCode"], 10301);
    const Json::Value& list = Data()["DRIVER_LIST"];
    if (row.members == 0) {
      EXPECT_EQ(list, "NO_DEVICES_FOUND") << row.guid;
      continue;
    }
    ASSERT_EQ(list.size(), row.members) << row.guid;
    EXPECT_EQ(list[0]["DEVICE_ID"], "USB\\ROOT_HUB\\4&1");
    EXPECT_EQ(list[0]["NAME"], "Concentrateur \xC3\xA9");
    EXPECT_EQ(list[1]["NAME"], "");
  }
}

TEST_F(DeviceRequests, PropertiesOfOneDeviceByEscapedId) {
  VARIANT ids;
  ::VariantInit(&ids);
  ids.vt = VT_BSTR;
  ids.bstrVal = ::SysAllocString(L"not really an array");
  Device(L"ROOT\\OTHER\\0000", kDisk, L"Error").Text(L"Name", L"other");
  Device(L"SWD\\{a}\\0001", kDisk, L"OK")
      .Int32(L"Availability", 3, CIM_UINT16)
      .Text(L"Caption", L"Lecteur \u00e9")
      .Value(L"HardwareID", ids, CIM_STRING | CIM_FLAG_ARRAY)
      .Int32(L"ConfigManagerErrorCode", 0, CIM_UINT32)
      .Bool(L"Present", true)
      .Null(L"Description", CIM_STRING)
      .Text(L"Name", L"disk");
  ::VariantClear(&ids);
  Json::Value request;
  request["REQUEST"] = "GET_THS_DRIVER_INFO";
  request["DEVICE_ID"] = "swdDEVMGR_SLASHDEVMGR_OPENADEVMGR_CLOSEDEVMGR_SLASH0001";
  ASSERT_EQ(Request(10002, request), 1);
  EXPECT_EQ(answer_["responseCode"], 10302);
  Json::Value expected(Json::arrayValue);
  for (const auto& [property, value] : {std::pair{"Availability", "Running/Full Power"},
                                        {"Caption", "Lecteur \xC3\xA9"}, {"ClassGuid", "{4D36E967-E325-11CE-BFC1-08002BE10318}"},
                                        {"DeviceID", "SWD\\{a}\\0001"}, {"Name", "disk"}, {"Status", "OK"}}) {
    Json::Value row;
    row["PROPERTY"] = property;
    row["VALUE"] = value;
    expected.append(row);
  }
  EXPECT_EQ(Data()["DRIVER_INFO"], expected);

  request["DEVICE_ID"] = "SWD\\{a}";
  ASSERT_EQ(Request(10002, request), 1);
  EXPECT_EQ(Data()["DRIVER_INFO"], "NO_DRIVER_INFO_FOUND");
}

TEST_F(DeviceRequests, ExceptionKeepsWhatWasGathered) {
  Device(L"ROOT\\X\\0", kDisk, L"OK").Text(L"Caption", L"x").ThrowOnGet(L"Manufacturer");
  Json::Value request;
  request["REQUEST"] = "GET_THS_DRIVER_INFO";
  request["DEVICE_ID"] = "ROOTDEVMGR_SLASHXDEVMGR_SLASH0";
  ASSERT_EQ(Request(10002, request), 1);
  const Json::Value& rows = Data()["DRIVER_INFO"];
  ASSERT_TRUE(rows.isArray());
  EXPECT_EQ(rows[rows.size() - 1]["PROPERTY"], "DeviceID");  // the last one before Manufacturer
  EXPECT_TRUE(log_.contains("DEVICE MANAGER getThisDeviceDetails Exception occured ...!\n"));
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
}

class DeviceActions : public DeviceRequests {
 protected:
  std::wstring ProgramPath() const {
    return (hk::test::StandInFolder() / (hk::test::RunsUnderWow64() ? L"DevExe64.exe" : L"DevExe32.exe")).wstring();
  }
  StandInRecord record_;
};

TEST_F(DeviceActions, ProgramGetsTheArgumentsAndTheStatusDecides) {
  struct Row {
    const char *action, *classGuid, *deviceId;
    const wchar_t* status;
    const wchar_t* arguments;
    const char* result;
  };
  const Row rows[] = {
      {"enable", "DEVMGR_OPENGDEVMGR_CLOSE", "ROOTDEVMGR_SLASHADEVMGR_SLASH0", L"OK", L" {G} ROOT\\A\\0 Change 1",
       "Success"},
      {"DISABLE", "DEVMGR_OPENGDEVMGR_CLOSE", "ROOTDEVMGR_SLASHADEVMGR_SLASH1", L"OK", L" {G} ROOT\\A\\1 Change 2",
       "Failed"},
      {"Disable", "DEVMGR_OPENGDEVMGR_CLOSE", "ROOTDEVMGR_SLASHmy devDEVMGR_SLASH2", L"Error",
       L" {G} \"ROOT\\my dev\\2\" Change 2", "Success"},
      {"UNINSTALL", "DEVMGR_OPENa bDEVMGR_CLOSE", "ROOTDEVMGR_SLASHADEVMGR_SLASH3", L"OK",
       L" \"{a b}\" ROOT\\A\\3 Uninstall", "Failed"},
      {"reboot", "DEVMGR_OPENGDEVMGR_CLOSE", "ROOTDEVMGR_SLASHADEVMGR_SLASH4", L"OK", L" {G} ROOT\\A\\4 ", "Failed"},
  };
  size_t started = 0;
  for (const Row& row : rows) {
    Device(hk::devices::UnescapeDeviceId(hk::FromUtf8(row.deviceId)).c_str(), kDisk, row.status);
    Json::Value request;
    request["REQUEST"] = "request_this_driver_action";
    request["ACTION"] = row.action;
    request["CLASS_GUID"] = row.classGuid;
    request["DEVICE_ID"] = row.deviceId;
    ASSERT_EQ(Request(10003, request), 1) << row.action;
    EXPECT_EQ(answer_["responseCode"], 10303);
    EXPECT_EQ(Data()["ACTION_NAME"], row.action);
    EXPECT_EQ(Data()["ACTION_RESULT"], row.result) << row.action;
    const auto line = StandInRecord::Parse(record_.WaitFor(++started).back());
    EXPECT_EQ(line.commandLine, ProgramPath() + row.arguments) << row.action;
  }
  EXPECT_EQ(api_.sleeps, std::vector<DWORD>(std::size(rows), 3000));
}

TEST_F(DeviceActions, ProgramThatCannotStartFails) {
  const std::wstring parked = ProgramPath() + L".parked";
  ASSERT_TRUE(::MoveFileW(ProgramPath().c_str(), parked.c_str()));
  Json::Value request;
  request["REQUEST"] = "REQUEST_THIS_DRIVER_ACTION";
  request["ACTION"] = "ENABLE";
  request["DEVICE_ID"] = "ROOTDEVMGR_SLASHADEVMGR_SLASH0";
  Device(L"ROOT\\A\\0", kDisk, L"OK");
  const int result = Request(10003, request);
  ::MoveFileW(parked.c_str(), ProgramPath().c_str());
  ASSERT_EQ(result, 1);
  EXPECT_EQ(Data()["ACTION_RESULT"], "Failed");
  EXPECT_TRUE(api_.sleeps.empty());
  EXPECT_TRUE(log_.contains("InitiateDevExe : DevExe not invoked \n"));
}

}  // namespace
