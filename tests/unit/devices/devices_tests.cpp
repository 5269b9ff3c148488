// Tool 10 inside the library (the dispatcher over the fake WMI and SetupAPI),
// and the child process runner with the stand-in as the device action program.
#include <windows.h>
#include <setupapi.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "core/text.h"
#include "infra/child_process.h"
#include "infra/win_resource.h"
#include "support/fake_wmi.h"
#include "support/formatter_request.h"
#include "support/scratch_dir.h"
#include "tools/devices/DeviceManager.h"
#include "tools/devices/device_api.h"

namespace {

using namespace hk::devices;
using namespace hk::test;

constexpr const wchar_t* kQuery = L"SELECT * FROM Win32_PnPEntity";
constexpr const wchar_t* kDisk = L"{4D36E967-E325-11CE-BFC1-08002BE10318}";

// Where the folder rule looks from this program: the stand-ins.
const std::wstring kStandIns = [] {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
  return (std::filesystem::path(path).parent_path().parent_path() / L"bin").wstring() + L"\\";
}();

bool RunsUnderWow64() {  // asked without the code under test: a 32-bit program on a 64-bit system
  SYSTEM_INFO native{};
  ::GetNativeSystemInfo(&native);
  return sizeof(void*) == 4 && native.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
}

// SetupAPI's class list (Wine has no class image list), classes told apart by
// their GUID's first field, put in the tool's table while the fake lives. The
// pause after a device action is recorded, not slept.
class FakeDeviceApi {
 public:
  struct Device {
    unsigned long classId;
    bool hasClassName = true;
  };
  struct DeviceClass {
    std::wstring description;  // empty: the description call fails
    bool hasImage = true;
  };
  std::vector<Device> devices;
  std::map<unsigned long, DeviceClass> classes;
  bool imageList = true, deviceList = true;
  int open = 0;  // device lists and image lists not yet destroyed
  std::vector<DWORD> sleeps;

  FakeDeviceApi() : saved_(g_deviceApi) {
    current_ = this;
    g_deviceApi = {GetImageList,   Destroy<PSP_CLASSIMAGELIST_DATA>,
                   GetClassDevs,   EnumDevice,
                   GetProperty,    GetImageIndex,
                   GetDescription, Destroy<HDEVINFO>,
                   Sleep};
  }
  ~FakeDeviceApi() { g_deviceApi = saved_; }

 private:
  static inline FakeDeviceApi* current_ = nullptr;
  DeviceApi saved_;

  static const DeviceClass* Find(const GUID* guid) {
    const auto found = current_->classes.find(guid->Data1);
    return found == current_->classes.end() ? nullptr : &found->second;
  }
  static BOOL Fail(DWORD error) { return ::SetLastError(error), FALSE; }
  static BOOL WINAPI GetImageList(PSP_CLASSIMAGELIST_DATA) {
    if (!current_->imageList) return Fail(ERROR_NO_MORE_ITEMS);  // as under Wine
    return ++current_->open, TRUE;
  }
  template <typename List>
  static BOOL WINAPI Destroy(List) {
    return --current_->open, TRUE;
  }
  static HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCWSTR, HWND, DWORD flags) {
    if (!current_->deviceList || guid || flags != (DIGCF_PRESENT | DIGCF_ALLCLASSES)) return INVALID_HANDLE_VALUE;
    return ++current_->open, reinterpret_cast<HDEVINFO>(0x5e7);
  }
  static BOOL WINAPI EnumDevice(HDEVINFO, DWORD index, PSP_DEVINFO_DATA data) {
    if (index >= current_->devices.size()) return Fail(ERROR_NO_MORE_ITEMS);
    data->ClassGuid = GUID{current_->devices[index].classId, 0, 0, {}};
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
    if (!found || found->description.empty() || found->description.size() >= size) return Fail(ERROR_INVALID_CLASS);
    wcscpy(buffer, found->description.c_str());
    return TRUE;
  }
  static void WINAPI Sleep(DWORD ms) { current_->sleeps.push_back(ms); }
};

TEST(DeviceRender, EscapedIdentifiersAndTheProgramFolder) {
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> rows[] = {
      {L"PCIDEVMGR_SLASHVEN_1DEVMGR_SLASH3&1", L"PCI\\VEN_1\\3&1", L"PCIDEVMGR_SLASHVEN_1DEVMGR_SLASH3&1"},
      {L"DEVMGR_OPENaDEVMGR_CLOSEDEVMGR_SLASH", L"{a}\\", L"{a}DEVMGR_SLASH"},
      {L"devmgr_slash DEVMGR_SLAS", L"devmgr_slash DEVMGR_SLAS", L"devmgr_slash DEVMGR_SLAS"}};
  for (const auto& [text, deviceId, classGuid] : rows) {
    EXPECT_EQ(UnescapeDeviceId(text), deviceId) << hk::ToUtf8(text);
    EXPECT_EQ(UnescapeClassGuid(text), classGuid) << hk::ToUtf8(text);
  }
  EXPECT_EQ(DevExeFolder(L"C:\\Program Files\\Agent\\host\\x.exe"), L"C:\\Program Files\\Agent\\bin\\");
  EXPECT_EQ(DevExeFolder(L"C:\\x.exe"), L"C:\\bin\\");
}

class Devices : public ::testing::Test {
 protected:
  Devices() { ::SetEnvironmentVariableW(L"HK_STANDIN_RECORD", record_.c_str()); }
  ~Devices() override { ::SetEnvironmentVariableW(L"HK_STANDIN_RECORD", nullptr); }
  // The count-th line (from 1) the stand-in appended, once there is one (waits up to 30 s).
  std::wstring Recorded(size_t count) const {
    for (int i = 0; i < 300; ++i, ::Sleep(100)) {
      std::ifstream in(record_, std::ios::binary);
      std::string line;
      for (size_t n = 1; std::getline(in, line); ++n)
        if (n == count) return hk::FromUtf8(line);
    }
    ADD_FAILURE() << "the stand-in did not record line " << count;
    return {};
  }
  Json::Value Request(int code, const std::string& request) { return AskData(DeviceManagerDispatch, code, request); }
  FakeRow& Device(const std::wstring& id, const wchar_t* classGuid, const wchar_t* status) {
    return wmi_.Results(kQuery).AddRow().Text(L"DeviceID", id).Text(L"ClassGuid", classGuid).Text(L"Status", status);
  }

  LogCapture log_;
  FakeWmi wmi_;
  FakeDeviceApi api_;
  ScratchDir scratch_;
  std::filesystem::path record_ = scratch_.path() / L"record.txt";
};

TEST_F(Devices, ClassesOncePerDescriptionSortedByUtf8AndOnlyComplete) {
  api_.classes = {{1, {L"System devices"}},
                  {2, {L"P\u00e9riph\u00e9riques"}},
                  {3, {L"Disk drives"}},
                  {4, {L"Disk drives"}},
                  {5, {L""}},
                  {6, {L"No icon", false}},
                  {7, {L"No class name"}}};
  api_.devices = {{1}, {2}, {3}, {4}, {1}, {5}, {6}, {7, false}};
  const DeviceClasses expected = {{"Disk drives", L"{00000004-0000-0000-0000-000000000000}"},
                                  {"P\xC3\xA9riph\xC3\xA9riques", L"{00000002-0000-0000-0000-000000000000}"},
                                  {"System devices", L"{00000001-0000-0000-0000-000000000000}"}};
  EXPECT_EQ(CollectDeviceClasses(), expected);
  EXPECT_EQ(api_.open, 0);
  api_.imageList = false;  // as under Wine: the icon test is left out
  EXPECT_EQ(CollectDeviceClasses().count("No icon"), 1u);
  api_.deviceList = false;
  EXPECT_TRUE(CollectDeviceClasses().empty());
  EXPECT_EQ(api_.open, 0);
}

TEST_F(Devices, AllDevicesListsClassesAndCounts) {
  api_.classes[7] = {L"Disk drives"};
  api_.devices = {{7}};
  Device(L"A", kDisk, L"OK");
  Device(L"B", kDisk, L"ok");
  Device(L"C", kDisk, L"Error");
  wmi_.Results(kQuery).AddRow().Text(L"DeviceID", L"D").Null(L"Status", CIM_STRING);
  EXPECT_TRUE(Request(10000, R"({"REQUEST":"ALL_DEVICES"})").isNull());
  EXPECT_EQ(Request(10000, R"({"REQUEST":"all_device","WebClientID":"web-1"})"),
            Parse(R"({"DEVICE_LIST":[{"DEVICE_NAME":"Disk drives","DEVICE_GUID":
      "{00000007-0000-0000-0000-000000000000}"}],"DRIVERS_COUNT":4,"DRIVERS_ENABLE_COUNT":2,"WebClientID":"web-1"})"));
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
}

TEST_F(Devices, FailuresGiveMarkersAndNothingForOtherRequests) {
  wmi_.Results(kQuery).FailExecQuery();
  EXPECT_EQ(Request(10000, R"({"REQUEST":"ALL_DEVICE"})"),
            Parse(R"({"DEVICE_LIST":"NO_DEVICES_FOUND","WebClientID":""})"));
  EXPECT_TRUE(log_.contains("DEVICE MANAGER getThisDeviceList() Failed to Enumerate...!\n"));
  EXPECT_EQ(Request(10002, R"({"REQUEST":"GET_THS_DRIVER_INFO","DEVICE_ID":"X"})")["DRIVER_INFO"],
            "NO_DRIVER_INFO_FOUND");
  for (const auto& [code, bad] : {std::pair{10002, R"("GET_THS_DRIVER_INFO")"},
                                  {10002, "7"},
                                  {10002, R"({"REQUEST":"GET_THS_DEVICE"})"},
                                  {10004, R"({"REQUEST":"ALL_DEVICE"})"}}) {
    EXPECT_TRUE(Request(code, bad).isNull()) << bad;
  }
}

TEST_F(Devices, MembersOfOneClass) {
  Device(L"USB\\HUB\\1", L"{36fc9e60-c465-11cf-8056-444553540000}", L"OK").Text(L"Name", L"Concentrateur \u00e9");
  Device(L"ACPI\\PNP0303\\0", kDisk, L"OK").Text(L"Name", L"Disk");
  EXPECT_EQ(Request(10001, R"({"REQUEST":"Get_Ths_Device","DEVICE_GUID":"36FC9E60-C465-11CF-8056-444553540000"})"),
            Parse(R"({"DRIVER_LIST":[{"DEVICE_ID":"USB\\HUB\\1","NAME":"Concentrateur \u00e9"}],"WebClientID":""})"));
  EXPECT_EQ(Request(10001, R"({"REQUEST":"GET_THS_DEVICE","DEVICE_GUID":""})")["DRIVER_LIST"], "NO_DEVICES_FOUND");
}

TEST_F(Devices, PropertiesByCimTypeOfTheDeviceNamedEscaped) {
  Device(L"ROOT\\OTHER\\0", kDisk, L"Error").Text(L"Name", L"other");
  Device(L"SWD\\{a}\\1", kDisk, L"OK")
      .Int32(L"Availability", 3, CIM_UINT16)
      .Text(L"Caption", L"Lecteur \u00e9")
      .Int32(L"ConfigManagerErrorCode", 0, CIM_UINT32)
      .Bool(L"Present", true)
      .Null(L"Description", CIM_STRING)
      .ThrowOnGet(L"SystemName");
  wmi_.Results(kQuery).AddRow().Text(L"DeviceID", L"X").Int32(L"Availability", 3, CIM_UINT32);
  const Json::Value info = Request(
      10002, R"({"REQUEST":"GET_THS_DRIVER_INFO","DEVICE_ID":"swdDEVMGR_SLASHDEVMGR_OPENADEVMGR_CLOSEDEVMGR_SLASH1"})");
  // SystemName throws, after the others were read: what was gathered stays.
  EXPECT_EQ(info["DRIVER_INFO"], Parse(R"([{"PROPERTY":"Availability","VALUE":"Running/Full Power"},
      {"PROPERTY":"Caption","VALUE":"Lecteur \u00e9"},{"PROPERTY":"ClassGuid","VALUE":"{4D36E967-E325-11CE-BFC1-08002BE10318}"},
      {"PROPERTY":"DeviceID","VALUE":"SWD\\{a}\\1"},{"PROPERTY":"Status","VALUE":"OK"}])"));
  EXPECT_TRUE(log_.contains("DEVICE MANAGER getThisDeviceDetails Exception occured ...!\n"));
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
  // Availability of another CIM type gives no row.
  EXPECT_EQ(Request(10002, R"({"REQUEST":"GET_THS_DRIVER_INFO","DEVICE_ID":"X"})")["DRIVER_INFO"][0]["PROPERTY"],
            "DeviceID");
}

TEST_F(Devices, ActionProgramGetsTheArgumentsAndTheStatusDecides) {
  const std::wstring program = kStandIns + (RunsUnderWow64() ? L"DevExe64.exe" : L"DevExe32.exe");
  const std::tuple<const char*, const char*, const char*, const wchar_t*, const wchar_t*, const char*> rows[] = {
      {"enable", "DEVMGR_OPENGDEVMGR_CLOSE", "RDEVMGR_SLASH0", L"OK", L" {G} R\\0 Change 1", "Success"},
      {"DISABLE", "DEVMGR_OPENGDEVMGR_CLOSE", "RDEVMGR_SLASH1", L"OK", L" {G} R\\1 Change 2", "Failed"},
      {"Disable", "G", "RDEVMGR_SLASHmy dev", L"Error", L" G \"R\\my dev\" Change 2", "Success"},
      {"UNINSTALL", "DEVMGR_OPENa bDEVMGR_CLOSE", "RDEVMGR_SLASH3", L"OK", L" \"{a b}\" R\\3 Uninstall", "Failed"},
      {"Update", "G", "R", L"OK", L" G R Update", "Failed"},
      {"reboot", "G", "RDEVMGR_SLASH4", L"OK", L" G R\\4 ", "Failed"},
  };
  size_t started = 0;
  for (const auto& [action, classGuid, deviceId, status, arguments, result] : rows) {
    Device(UnescapeDeviceId(hk::FromUtf8(deviceId)), kDisk, status);
    const Json::Value data =
        Request(10003, R"({"REQUEST":"request_this_driver_action","ACTION":")" + std::string(action) +
                           R"(","CLASS_GUID":")" + classGuid + R"(","DEVICE_ID":")" + deviceId + "\"}");
    EXPECT_EQ(data["ACTION_NAME"].asString() + " " + data["ACTION_RESULT"].asString(),
              action + std::string(" ") + result);
    const std::wstring line = Recorded(++started);
    EXPECT_EQ(line.substr(line.rfind(L'\t') + 1), program + arguments) << action;
  }
  EXPECT_EQ(api_.sleeps, std::vector<DWORD>(std::size(rows), 3000));
  // A program that cannot start: "Failed" without waiting.
  const std::wstring parked = program + L".parked";
  ASSERT_TRUE(::MoveFileW(program.c_str(), parked.c_str()));
  const Json::Value failed = Request(10003, R"({"REQUEST":"REQUEST_THIS_DRIVER_ACTION","ACTION":"ENABLE"})");
  ::MoveFileW(parked.c_str(), program.c_str());
  EXPECT_EQ(failed["ACTION_RESULT"], "Failed");
  EXPECT_EQ(api_.sleeps.size(), std::size(rows));
  EXPECT_TRUE(log_.contains("InitiateDevExe : DevExe not invoked \n"));
}

TEST_F(Devices, RunnerPassesExitCodesAwaitsNoChildWithoutLimitAndEndsOneOutlivingItsLimitWith258) {
  for (const unsigned code : {0u, 1508u, 1641u, 3010u}) EXPECT_EQ(hk::FilterExecuteResult(code), 0u) << code;
  for (const unsigned code : {5u, 258u, 3011u}) EXPECT_EQ(hk::FilterExecuteResult(code), code) << code;
  std::wstring line = kStandIns + L"DevExe32.exe --exit 1641";
  EXPECT_EQ(hk::ExecuteFiltered(nullptr, line.data(), 1, false), 0u);
  line = kStandIns + L"DevExe32.exe --exit 5";
  EXPECT_EQ(execute(nullptr, line.data(), nullptr, 1, false), 5u);
  EXPECT_TRUE(log_.contains("execute : Exit code for the application : 5 \n")) << log_.text();
  std::wstring none = kStandIns + L"none.exe";
  EXPECT_EQ(execute(nullptr, none.data(), nullptr, 0, false), static_cast<unsigned>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(log_.contains("execute : Failed to Create the Process for the application \n"));

  const std::wstring event = L"Local\\hk-runner-" + std::to_wstring(::GetCurrentProcessId());
  const hk::unique_handle release(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
  line = kStandIns + L"DevExe32.exe --wait " + event;
  ASSERT_EQ(execute(nullptr, line.data(), nullptr, 0, false), 0u);
  const hk::unique_handle free(::OpenProcess(SYNCHRONIZE, FALSE, std::stoul(Recorded(3))));
  unsigned result = 0;
  std::thread runner([&] { result = hk::ExecuteWithMinute(nullptr, line.data(), 1, false, 4000); });
  const hk::unique_handle limited(
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, std::stoul(Recorded(4))));
  runner.join();
  EXPECT_EQ(result, 258u);
  ASSERT_TRUE(free && limited);
  // The child without limit cannot end before the event is set, so execute returned first.
  EXPECT_EQ(::WaitForSingleObject(free.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_EQ(::WaitForSingleObject(limited.get(), 20000), WAIT_OBJECT_0);
  DWORD exitCode = 99;
  ::GetExitCodeProcess(limited.get(), &exitCode);
  EXPECT_EQ(exitCode, 0u);  // TerminateProcess's, not the stand-in's own 99
  EXPECT_TRUE(log_.contains("as time is exceeded 1 Minutes \n")) << log_.text();
  EXPECT_TRUE(log_.contains("execute : The process has been successfully terminated ..! \n"));
  ::SetEvent(release.get());
  EXPECT_EQ(Recorded(5), L"done");
}

}  // namespace
