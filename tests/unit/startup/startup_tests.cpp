// Tool 15's requests on the real registry, files and version resources of the
// Wine prefix, with WMI's startup commands and profiles from the fake; then
// the plain rules the requests do not show.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "core/text.h"
#include "support/fake_wmi.h"
#include "support/formatter_request.h"
#include "tools/startup/Startup_Process.h"
#include "tools/startup/startup_rules.h"

namespace {

using namespace hk::test;
using namespace hk::startup;
using Bytes = std::vector<uint8_t>;

constexpr wchar_t kStartupQuery[] = L"SELECT * FROM Win32_StartupCommand";
constexpr wchar_t kProfileQuery[] = L"SELECT * FROM Win32_UserProfile Where Loaded = TRUE";
constexpr wchar_t kWmiRun[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
// A user's hive the tests make below HKEY_USERS, and its user.
constexpr wchar_t kUserSid[] = L"S-1-5-21-4242-4242-4242-1001";
constexpr wchar_t kUser[] = L"HKTEST\\startup-tester";
const std::wstring kUserPrefix = std::wstring(kUserSid) + L"\\";
const Bytes kEnabled = {2, 0, 0, 0, 0}, kDisabled = {3, 0, 0, 0, 0};

Bytes TextBytes(const std::wstring& text) {
  const auto* first = reinterpret_cast<const uint8_t*>(text.c_str());
  return Bytes(first, first + (text.size() + 1) * sizeof(wchar_t));
}

// The value's bytes in hex, "-" when it does not exist.
std::string ValueBytes(HKEY hive, const std::wstring& path, const std::wstring& name, REGSAM view = KEY_WOW64_64KEY) {
  HKEY key = nullptr;
  BYTE data[64];
  DWORD size = sizeof data;
  const bool read = ::RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS &&
                    ::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, data, &size) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  std::string hex = read ? "" : "-";
  for (DWORD i = 0; read && i < size; ++i)
    hex += "0123456789abcdef"[data[i] / 16], hex += "0123456789abcdef"[data[i] % 16];
  return hex;
}

// The probe executables are built beside this test program.
std::wstring ProbePath(const wchar_t* name) {
  wchar_t self[MAX_PATH] = {};
  const std::wstring folder(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

class Startup : public WmiLogTest {
 protected:
  void SetUp() override {
    WmiLogTest::SetUp();
    Startup_Process::detectBitness();
    wow64_ = Startup_Process::systemBitness() == 64;
    FreshWmi();
  }
  // Wine keeps no approval values or test user of its own: all there are the tests'.
  void TearDown() override {
    for (const auto& [key, name] : values_) ::RegDeleteValueW(key, name.c_str()), ::RegCloseKey(key);
    const wchar_t* approved = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved";
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {  // with what a faulty run may have added
      HKEY key = nullptr;
      if (::RegOpenKeyExW(hive, approved, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key)) continue;
      ::RegDeleteTreeW(key, nullptr), ::RegCloseKey(key), ::RegDeleteKeyExW(hive, approved, KEY_WOW64_64KEY, 0);
    }
    ::RegDeleteTreeW(HKEY_USERS, kUserSid);
    std::error_code ignored;
    for (const auto& file : files_) std::filesystem::remove_all(file, ignored);
    WmiLogTest::TearDown();
  }
  void Set(HKEY hive, REGSAM view, const std::wstring& path, const std::wstring& name, const Bytes& data,
           DWORD type = REG_BINARY) {
    HKEY key = nullptr;  // kept open, in its view, for the removal
    ASSERT_EQ(::RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr), 0);
    values_.emplace_back(key, name);
    EXPECT_EQ(::RegSetValueExW(key, name.c_str(), 0, type, data.data(), DWORD(data.size())), ERROR_SUCCESS);
  }
  void File(const std::filesystem::path& path, const std::filesystem::path& from) {  // a copy of from
    std::filesystem::create_directories(path.parent_path());
    files_.push_back(path);
    std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing);
  }
  // A new fake WMI that knows the test user's loaded profile.
  FakeWmi& FreshWmi() {
    wmi_.reset();
    auto& profile = wmi_.emplace().Results(kProfileQuery).AddRow();
    profile.Text(L"LocalPath", L"C:\\users\\startup-tester").Text(L"SID", kUserSid);
    return *wmi_;
  }
  void Command(const std::wstring& name, const std::wstring& user, const std::wstring& location,
               const std::wstring& command) {
    auto& row = wmi_->Results(kStartupQuery).AddRow();
    row.Text(L"Name", name).Text(L"User", user).Text(L"Location", location).Text(L"Command", command);
  }
  // Requests it does not answer give 0.
  Json::Value Serve(int code, const char* request, Json::Value data = Json::Value(Json::objectValue)) {
    data["REQUEST"] = request;
    data["WebClientID"] = "web-" + std::to_string(code);
    return AskTool(&Startup_Process::ServerToAgentHandler, code, data, {}, 0);
  }
  Json::Value Act(const std::string& action, const std::wstring& name, const std::wstring& user = L"Public") {
    Json::Value data;
    data["ACTION"] = action;
    data["APP_NAME"] = hk::ToUtf8(name);
    data["USER"] = hk::ToUtf8(user);
    return Serve(15001, "REQUEST_THIS_APP_ACTION", data)["responseData"]["ACTION_RESULT"];
  }
  // The test's rows (named "hk-...") as "NAME|DESCRIPTION|LOCATION|USER|STATUS|STARTUP_TYPE", in order.
  std::vector<std::string> Listed() {
    const Json::Value answer = Serve(15000, "ALL_APPS");
    EXPECT_EQ(answer["responseCode"], 15300);
    EXPECT_EQ(answer["responseData"]["WebClientID"], "web-15000");
    std::vector<std::string> rows;
    for (const Json::Value& row : answer["responseData"]["APPS_LIST"]) {
      if (!row.isObject() || !row["NAME"].asString().starts_with("hk-")) continue;
      rows.push_back(row["NAME"].asString());
      for (const char* key : {"DESCRIPTION", "LOCATION", "USER", "STATUS", "STARTUP_TYPE"})
        rows.back() += "|" + row[key].asString();
    }
    return rows;
  }

  std::optional<FakeWmi> wmi_;
  bool wow64_ = false;
  std::vector<std::pair<HKEY, std::wstring>> values_;
  std::vector<std::filesystem::path> files_;
};

TEST_F(Startup, ListsWmiRowsThenThe32BitRunValues) {
  const std::wstring described = ProbePath(L"startup_described.exe"), bare = ProbePath(L"startup_bare.exe");
  const std::wstring braced = ProbePath(L"startup_braced.exe");
  files_.push_back(L"C:\\Program Files\\hk-startup-test");
  File(L"C:\\Program Files\\hk-startup-test\\app.exe", described);
  auto& service = wmi_->Results(kProfileQuery).AddRow();
  service.Text(L"LocalPath", L"C:\\windows\\ServiceProfiles\\LocalService").Text(L"SID", L"S-1-5-19");
  Command(L"hk-described", L"Public", kWmiRun, L"\"" + described + L"\" -min");
  Command(L"hk-bare-registry", L"Public", kWmiRun, bare + L" /x");
  Command(L"hk-service", L"NT AUTHORITY\\LOCAL SERVICE", kWmiRun, L"C:\\svc\\s.bat");
  Command(L"hk-program-files", L"Public", kWmiRun, L"%ProgramFiles%\\hk-startup-test\\app.exe -q");
  Command(L"hk-program-files-x86", L"Public", kWmiRun, L"%ProgramFiles(x86)%\\hk-startup-test\\app.exe");
  Command(L"hk-doubled", L"Public", L"Startup", L"C:\\\\tools\\\\\\\\doubled.exe --now");
  Command(L"hk-Gr\u00fc\u00dfe", kUser, L"Common Startup", bare);
  // The StartupFolder approval value (name.lnk) goes before the Run one.
  Set(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedStartupFolder, L"hk-Gr\u00fc\u00dfe.lnk", {5, 0, 0, 0, 0});
  Set(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedRun, L"hk-Gr\u00fc\u00dfe", kEnabled);
  Command(L"hk-user-run", kUser, kWmiRun, L"C:\\t\\x.bat");
  Set(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedRun, L"hk-user-run", {9, 0, 0, 0, 0});
  Command(L"hk-public-run", L"Public", kWmiRun, L"C:\\t\\x.bat");
  Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun, L"hk-public-run", kDisabled);
  Command(L"hk-no-profile", L"HKTEST\\nobody", kWmiRun, L"C:\\t\\x.bat");
  const std::pair<const wchar_t*, std::wstring> run32[] = {
      {L"hk-run32-bare", bare},  // in the order of their names, as Wine enumerates them
      {L"hk-run32-braced", braced},
      {L"hk-run32-described", L"\"" + described + L"\" --tray"},
      {L"hk-run32-long", L"\"" + described + L"\" " + std::wstring(600, L'x')},  // beyond a first read's buffer
  };
  for (const auto& [name, command] : run32)
    Set(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, name, TextBytes(command), REG_SZ);
  Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kRunKey, L"hk-run64-only", TextBytes(described), REG_SZ);
  Set(HKEY_CURRENT_USER, KEY_WOW64_32KEY, kRunKey, L"hk-run32-user", TextBytes(described), REG_SZ);
  Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun32, L"hk-run32-braced", kDisabled);
  Set(HKEY_CURRENT_USER, KEY_WOW64_64KEY, kApprovedRun32, L"hk-run32-user", {7, 0, 0, 0, 0});

  const std::string kDescribed = "|Startup test described|" + hk::ToUtf8(described) + "|Public|";
  std::vector<std::string> expected = {
      "hk-described" + kDescribed + "Enabled|Registry",
      "hk-program-files|Startup test described|C:\\Program Files\\hk-startup-test\\app.exe|Public|Enabled|Registry",
      "hk-doubled|hk-doubled|C:\\tools\\doubled.exe|Public|Enabled|Folder",
      "hk-Gr\u00fc\u00dfe|hk-Gr\u00fc\u00dfe|" + hk::ToUtf8(bare) + "|HKTEST\\startup-tester|Disabled|Folder",
      "hk-user-run|hk-user-run|C:\\t\\x.bat|HKTEST\\startup-tester|Disabled|Registry",
      "hk-public-run|hk-public-run|C:\\t\\x.bat|Public|Disabled|Registry",
      "hk-no-profile|hk-no-profile|C:\\t\\x.bat|HKTEST\\nobody|Enabled|Registry"};
  if (wow64_) {  // the machine's 32-bit view, then the user's
    expected.insert(
        expected.end(),
        {"hk-run32-braced|hk-run32-braced|" + hk::ToUtf8(braced) + "|Public|Disabled|Registry",
         "hk-run32-described" + kDescribed + "Enabled|Registry", "hk-run32-long" + kDescribed + "Enabled|Registry",
         "hk-run32-user" + kDescribed + "Disabled|Registry"});
  }
  EXPECT_EQ(Listed(), expected);
  EXPECT_TRUE(Logged("Path not found...!@ C:\\Program Files(x86)\\hk-startup-test\\app.exe")) << Log();
  EXPECT_TRUE(Logged("Cannot open reg -- key of user HKTEST\\nobody !!")) << Log();
  EXPECT_TRUE(wmi_->AllReleasedOnce()) << wmi_->Accounting();
}

TEST_F(Startup, ListingFailuresAnswerNoAppsFoundAndOtherRequestsNothing) {
  const std::pair<void (*)(FakeWmi&), const char*> cases[] = {
      {[](FakeWmi& f) { f.Fail(FakeWmiStep::kConnectServer); }, "getObjectsPointer() failed..!"},
      {[](FakeWmi& f) { f.Results(kStartupQuery).FailExecQuery(); }, "getObjectsPointer() failed..!"},
      {[](FakeWmi& f) { f.Results(kStartupQuery).AddRow().Text(L"Name", L"x").ThrowOnGet(L"Command"); },
       "Exception occured while Enumerating objects inside getObject() method..!!!"},
  };
  for (const auto& [arrange, logged] : cases) {
    arrange(FreshWmi());
    EXPECT_EQ(Serve(15000, "all_apps")["responseData"]["APPS_LIST"], "NO_APPS_FOUND") << logged;
    EXPECT_TRUE(Logged(logged)) << Log();
    EXPECT_TRUE(wmi_->AllReleasedOnce()) << wmi_->Accounting();
  }
  const std::pair<int, const char*> others[] = {
      {15001, "ALL_APPS"}, {15000, "REQUEST_THIS_APP_ACTION"}, {15002, "ALL_APPS"}, {15000, ""}};
  for (const auto& [code, request] : others) EXPECT_TRUE(Serve(code, request).isNull()) << code << " " << request;
}

TEST_F(Startup, EnableAndDisableRewriteOnlyTheValuesThatExist) {
  const std::wstring name = L"hk-act-\u00e9t\u00e9", userFolder = kUserPrefix + kApprovedStartupFolder;
  Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun, name, {7, 1, 2, 3, 4, 5, 6, 7});
  Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun32, name, kDisabled);
  Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedStartupFolder, L"hk-other", kDisabled);
  Set(HKEY_USERS, KEY_WOW64_64KEY, userFolder, L"hk-user-app.lnk", kEnabled);
  // The approval values afterwards: Run, Run32, the machine's and the user's StartupFolder one.
  const std::tuple<std::string, std::wstring, std::wstring, const char*, std::string> steps[] = {
      {"enable", name, L"PUBLIC", "Success", "0200000000 0200000000 - 0200000000"},
      {"DISABLE", name, L"Public", "Success", "0300000000 0300000000 - 0200000000"},
      {"Disable", L"hk-user-app", kUser, "Success", "0300000000 0300000000 - 0300000000"},
      {"ENABLE", L"hk-user-app", L"HKTEST\\nobody", "Failed", "0300000000 0300000000 - 0300000000"},
      {"PAUSE", name, L"Public", "Failed", "0300000000 0300000000 - 0300000000"},
      {"ENABLE", L"", L"Public", "Failed", "0300000000 0300000000 - 0300000000"},
  };
  for (const auto& [action, app, user, result, after] : steps) {
    const std::string label = action + " " + hk::ToUtf8(app) + " of " + hk::ToUtf8(user);
    EXPECT_EQ(Act(action, app, user), result) << label;
    EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, kApprovedRun, name) + " " +
                  ValueBytes(HKEY_LOCAL_MACHINE, kApprovedRun32, name) + " " +
                  ValueBytes(HKEY_LOCAL_MACHINE, kApprovedStartupFolder, name + L".lnk") + " " +
                  ValueBytes(HKEY_USERS, userFolder, L"hk-user-app.lnk"),
              after)
        << label;
  }
  Command(name, L"Public", kWmiRun, L"C:\\t\\x.bat");
  EXPECT_EQ(Listed(),
            std::vector<std::string>{hk::ToUtf8(name + L"|" + name) + "|C:\\t\\x.bat|Public|Disabled|Registry"});
}

TEST_F(Startup, RemoveTakesTheShortcutElseTheRunValue) {
  // What there is before and after: s the shortcut, 6 and 3 the Run value in the 64-bit and the 32-bit view.
  const std::tuple<const wchar_t*, std::string, const char*, std::string> cases[] = {
      {L"hk-rm-\u00e5sa", "s6", "Success", "6"},
      {L"hk-rm-run64", "6", "Success", ""},
      {L"hk-rm-both-views", "63", "Success", "3"},
      {L"hk-rm-run32", "3", "Success", ""},
      {L"hk-rm-nothing", "", "Failed", ""},
      {L"..\\hk-rm-outside", "s", "Failed", "s"},  // a name that climbs out of the folder deletes no file
  };
  for (const auto& [name, before, result, after] : cases) {
    if (!wow64_ && before.find('3') != std::string::npos) continue;  // without WOW64 there is one view
    const std::wstring shortcut = std::wstring(kCommonStartupFolder) + name + L".lnk";
    if (before.find('s') != std::string::npos) File(shortcut, ProbePath(L"startup_bare.exe"));
    for (const auto& [view, mark] : {std::pair{KEY_WOW64_64KEY, '6'}, {KEY_WOW64_32KEY, '3'}}) {
      if (before.find(mark) != std::string::npos) Set(HKEY_LOCAL_MACHINE, view, kRunKey, name, TextBytes(L"x"), REG_SZ);
    }
    EXPECT_EQ(Act("remove", name), result) << hk::ToUtf8(name);
    std::string left = ::GetFileAttributesW(shortcut.c_str()) != INVALID_FILE_ATTRIBUTES ? "s" : "";
    if (ValueBytes(HKEY_LOCAL_MACHINE, kRunKey, name) != "-") left += "6";
    if (ValueBytes(HKEY_LOCAL_MACHINE, kRunKey, name, KEY_WOW64_32KEY) != "-") left += "3";
    EXPECT_EQ(left, after) << hk::ToUtf8(name);
    ::DeleteFileW(shortcut.c_str());
  }
}

TEST(StartupRules, OddFirstBytesUpToNineDisable) {
  for (int byte = 0; byte <= 12; ++byte) {
    EXPECT_EQ(ApprovedState({uint8_t(byte), 0, 0, 0, 0}), byte % 2 == 1 && byte <= 9 ? 0 : 1) << "first byte " << byte;
  }
  EXPECT_EQ(ApprovedState({}), 1);
}

TEST(StartupRules, TranslationTriesInOrder) {
  const std::tuple<const char*, std::vector<Translation>, uint16_t, size_t> cases[] = {
      {"exact before primary", {{0x809, 1200}, {0x409, 1200}}, 0x409, 1},
      {"the same primary language", {{0x407, 1200}, {0x809, 1200}}, 0x409, 1},
      {"neutral next", {{0x40c, 1200}, {0x000, 1200}}, 0x407, 1},
      {"then English", {{0x40c, 1200}, {0x809, 1200}}, 0x407, 1},
      {"else the first", {{0x40c, 1200}, {0x410, 1200}}, 0x407, 0},
  };
  for (const auto& [name, table, user, chosen] : cases) EXPECT_EQ(ChooseTranslation(table, user), chosen) << name;
}

TEST(StartupRules, PathsDescriptionsAndProfileNames) {
  const std::pair<std::optional<std::wstring>, std::optional<std::wstring>> cases[] = {
      {CleanCommandPath(L"\"%ProgramFiles%\\Vendor\\app.exe\" /background", L'D'),
       L"D:\\Program Files\\Vendor\\app.exe"},
      {CleanCommandPath(L"C:\\TOOLS\\APP.EXE -x", L'D'),
       L"C:\\TOOLS\\APP.EXE -x"},  // the extension is matched with case
      // What the version lookup opens keeps a quote that came before the variable.
      {ExpandProgramFiles(L"\"%ProgramFiles%\\A\\a.exe\" -q", L'C'), L"C:\"\\Program Files\\A\\a.exe\" -q"},
      {CleanCommandPath(L"", L'D'), L""},
      {RunValueDescription(L"NULL", L"item"), L"item"},
      {RunValueDescription(L"\u00c9diteur", L"item"), L"item"},
      {RunValueDescription(L"", L"item"), L""},
      {WmiDescription(L"{6F1A2B3C-0000}", L"item"), L"{6F1A2B3C-0000}"},
      {ProfileFolderName(L"NT AUTHORITY\\NETWORK SERVICE"), L"NetworkService"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "row " << i;
  EXPECT_TRUE(IsServiceAccountSid(L"S-1-5-21-123"));
  EXPECT_FALSE(IsServiceAccountSid(L"S-1-5-21-1234"));
}

}  // namespace
