// Request 15000: WMI's startup commands (fake) with the real registry, files
// and version resources of the Wine prefix.
#include "startup/startup_test_support.h"

namespace {

using namespace hk::test;
using namespace hk::startup;

constexpr wchar_t kWmiRun[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kDescribed[] = "Startup test described";

class StartupListing : public StartupTest {};

TEST_F(StartupListing, WmiRowsThenThe32BitRunValues) {
  const std::wstring described = ProbePath(L"startup_described.exe"), bare = ProbePath(L"startup_bare.exe");
  const std::wstring braced = ProbePath(L"startup_braced.exe");
  scratch_.File(L"C:\\Program Files\\hk-startup-test\\app.exe", described, true);
  Wmi()
      .Results(kProfileQuery)
      .AddRow()
      .Text(L"LocalPath", L"C:\\windows\\ServiceProfiles\\LocalService")
      .Text(L"SID", L"S-1-5-19");
  const std::wstring wmi[][4] = {
      {L"hk-described", L"Public", kWmiRun, L"\"" + described + L"\" -min"},
      {L"hk-bare-registry", L"Public", kWmiRun, bare + L" /x"},
      {L"hk-bare-folder", L"Public", L"Common Startup", bare},
      {L"hk-service", L"NT AUTHORITY\\LOCAL SERVICE", kWmiRun, L"C:\\svc\\s.bat"},
      {L"hk-program-files", L"Public", kWmiRun, L"%ProgramFiles%\\hk-startup-test\\app.exe -q"},
      {L"hk-program-files-x86", L"Public", kWmiRun, L"%ProgramFiles(x86)%\\hk-startup-test\\app.exe"},
      {L"hk-doubled", L"Public", L"Startup", L"C:\\\\tools\\\\\\\\doubled.exe --now"},
      {L"Gr\u00fc\u00dfe-app", kUser, L"Startup", bare},
  };
  for (const auto& row : wmi) Wmi().Results(kStartupQuery).AddRow(StartupCommand(row[0], row[1], row[2], row[3]));
  scratch_.Set(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedStartupFolder, L"Gr\u00fc\u00dfe-app.lnk",
               {3, 0, 0, 0, 0});
  const std::pair<const wchar_t*, std::wstring> run32[] = {
      {L"hk-run32-described", L"\"" + described + L"\" --tray"},
      {L"hk-run32-braced", braced},
      {L"hk-run32-bare", bare},
      {L"hk-run32-long", L"\"" + described + L"\" " + std::wstring(600, L'x')},  // beyond a first read's buffer
  };
  for (const auto& [name, command] : run32) {
    scratch_.Set(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, name, TextBytes(command), REG_SZ);
  }
  scratch_.Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kRunKey, L"hk-run64-only", TextBytes(described), REG_SZ);
  scratch_.Set(HKEY_CURRENT_USER, KEY_WOW64_32KEY, kRunKey, L"hk-run32-user", TextBytes(described), REG_SZ);
  scratch_.Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun32, L"hk-run32-braced", {3, 0, 0, 0, 0});
  scratch_.Set(HKEY_CURRENT_USER, KEY_WOW64_64KEY, kApprovedRun32, L"hk-run32-user", {7, 0, 0, 0, 0});

  const Json::Value answer = List();
  EXPECT_EQ(answer["responseCode"], 15300);
  EXPECT_EQ(answer["responseData"]["WebClientID"], "web-list");
  const auto rows = Rows(answer);
  const std::string bareText = hk::ToUtf8(bare), describedText = hk::ToUtf8(described);
  struct Expected {
    std::string name, description, location, user, status, type;  // no description: not listed
    int group;  // 0 WMI, 1 the machine's 32-bit view, 2 the user's: listed in this order
  };
  const Expected expected[] = {
      {"hk-described", kDescribed, describedText, "Public", "Enabled", "Registry", 0},
      {"hk-bare-registry", "", "", "", "", "", 0},
      {"hk-bare-folder", "hk-bare-folder", bareText, "Public", "Enabled", "Folder", 0},
      {"hk-service", "", "", "", "", "", 0},
      {"hk-program-files", kDescribed, "C:\\Program Files\\hk-startup-test\\app.exe", "Public", "Enabled", "Registry",
       0},
      {"hk-program-files-x86", "", "", "", "", "", 0},
      {"hk-doubled", "hk-doubled", "C:\\tools\\doubled.exe", "Public", "Enabled", "Folder", 0},
      {"Gr\u00fc\u00dfe-app", "Gr\u00fc\u00dfe-app", bareText, "HKTEST\\startup-tester", "Disabled", "Folder", 0},
      {"hk-run64-only", "", "", "", "", "", 0},
      {"hk-run32-described", kDescribed, describedText, "Public", "Enabled", "Registry", 1},
      {"hk-run32-braced", "hk-run32-braced", hk::ToUtf8(braced), "Public", "Disabled", "Registry", 1},
      {"hk-run32-bare", "", "", "", "", "", 1},
      {"hk-run32-long", kDescribed, describedText, "Public", "Enabled", "Registry", 1},
      {"hk-run32-user", kDescribed, describedText, "Public", "Disabled", "Registry", 2},
  };
  int group = 0, earlier = -1, latest = -1;
  for (const Expected& e : expected) {
    const auto found = rows.find(e.name);
    if (e.description.empty() || (e.group > 0 && !wow64_)) {
      EXPECT_EQ(found, rows.end()) << e.name << " is listed";
      continue;
    }
    ASSERT_NE(found, rows.end()) << e.name << " is missing from " << answer;
    Json::Value want(Json::objectValue);
    using Member = std::pair<const char*, std::string>;
    for (const auto& [key, value] : std::initializer_list<Member>{{"NAME", e.name},
                                                                  {"DESCRIPTION", e.description},
                                                                  {"LOCATION", e.location},
                                                                  {"USER", e.user},
                                                                  {"STATUS", e.status},
                                                                  {"STARTUP_TYPE", e.type}}) {
      want[key] = value;
    }
    EXPECT_EQ(found->second.second, want) << e.name;
    if (e.group != group) {
      earlier = latest;
      group = e.group;
    }
    // WMI keeps its order; a key's values come in the registry's order.
    EXPECT_GT(found->second.first, group == 0 ? latest : earlier) << e.name << " out of order";
    latest = std::max(latest, found->second.first);
  }
  EXPECT_TRUE(Logged("Path not found...!@ C:\\Program Files(x86)\\hk-startup-test\\app.exe")) << Log();
  EXPECT_TRUE(Wmi().AllReleasedOnce()) << Wmi().Accounting();
  EXPECT_TRUE(com_.outer_kept && com_.nothing_left);
}

TEST_F(StartupListing, ApprovalValuesDecideTheStatus) {
  struct Case {
    const wchar_t* name;
    Bytes folder, run;  // the StartupFolder value (name.lnk) and the Run value; empty: none
    const wchar_t* user;
    const char* status;
  };
  const Case cases[] = {
      {L"hk-02", {}, {2, 0, 0, 0, 0}, L"Public", "Enabled"},
      {L"hk-03", {}, {3, 0, 0, 0, 0}, L"Public", "Disabled"},
      {L"hk-06", {}, {6, 0, 0, 0, 0}, L"Public", "Enabled"},
      {L"hk-07", {}, {7, 0, 0, 0, 0}, L"Public", "Disabled"},
      {L"hk-missing", {}, {}, L"Public", "Enabled"},
      {L"hk-folder-first", {3, 0, 0, 0, 0}, {2, 0, 0, 0, 0}, L"Public", "Disabled"},
      {L"hk-user-run", {}, {9, 0, 0, 0, 0}, kUser, "Disabled"},
      {L"hk-user-folder", {5, 0, 0, 0, 0}, {2, 0, 0, 0, 0}, kUser, "Disabled"},
      {L"hk-no-profile", {}, {}, L"HKTEST\\nobody", "Enabled"},
  };
  for (const Case& c : cases) {
    const bool machine = std::wstring(c.user) == L"Public";
    const HKEY hive = machine ? HKEY_LOCAL_MACHINE : HKEY_USERS;
    const std::wstring prefix = machine ? L"" : kUserPrefix, name = c.name;
    if (!c.folder.empty())
      scratch_.Set(hive, KEY_WOW64_64KEY, prefix + kApprovedStartupFolder, name + L".lnk", c.folder);
    if (!c.run.empty()) scratch_.Set(hive, KEY_WOW64_64KEY, prefix + kApprovedRun, name, c.run);
    Wmi().Results(kStartupQuery).AddRow(StartupCommand(c.name, c.user, kWmiRun, L"C:\\t\\x.bat"));
  }
  const auto rows = Rows(List());
  for (const Case& c : cases) {
    EXPECT_EQ(rows.count(hk::ToUtf8(c.name)) ? rows.at(hk::ToUtf8(c.name)).second["STATUS"] : Json::Value(), c.status)
        << hk::ToUtf8(c.name);
  }
  EXPECT_TRUE(Logged("Cannot open reg -- key of user HKTEST\\nobody !!")) << Log();
}

TEST_F(StartupListing, FailuresAnswerNoAppsFound) {
  const std::pair<void (*)(FakeWmi&), const char*> cases[] = {
      {[](FakeWmi& f) { f.Fail(FakeWmiStep::kConnectServer); }, "getObjectsPointer() failed..!"},
      {[](FakeWmi& f) { f.Results(kStartupQuery).FailExecQuery(); }, "getObjectsPointer() failed..!"},
      {[](FakeWmi& f) { f.Results(kStartupQuery).AddRow().Text(L"Name", L"x").ThrowOnGet(L"Command"); },
       "Exception occured while Enumerating objects inside getObject() method..!!!"},
  };
  for (const auto& [arrange, logged] : cases) {
    arrange(FreshWmi());
    const Json::Value answer = List();
    EXPECT_EQ(answer["responseCode"], 15300) << logged;
    EXPECT_EQ(answer["responseData"]["APPS_LIST"], "NO_APPS_FOUND") << logged;
    EXPECT_TRUE(Logged(logged)) << Log();
    EXPECT_TRUE(Wmi().AllReleasedOnce()) << Wmi().Accounting();
    EXPECT_TRUE(com_.outer_kept && com_.nothing_left) << logged;
  }
}

}  // namespace
