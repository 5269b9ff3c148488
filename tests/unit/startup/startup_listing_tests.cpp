// Request 15000: WMI's startup commands (fake) with the real registry, files
// and version resources of the Wine prefix.
#include "startup/startup_test_support.h"

namespace {

using hk::test::kTestUser;
using hk::test::kTestUserSid;
using hk::test::Profile;
using hk::test::StartupCommand;
using namespace hk::startup;

constexpr wchar_t kWmiRunLocation[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kUserPrefix = std::wstring(kTestUserSid) + L"\\";

class StartupListing : public hk::test::StartupTest {};

TEST_F(StartupListing, WmiRowsAndThe32BitRunValuesFollowTheirRules) {
  const std::wstring described = hk::test::ProbePath(L"startup_described.exe");
  const std::wstring braced = hk::test::ProbePath(L"startup_braced.exe");
  const std::wstring bare = hk::test::ProbePath(L"startup_bare.exe");
  files_.Copy(described, L"C:\\Program Files\\hk-startup-test\\app.exe");

  Wmi().Results(hk::test::kProfileQuery).AddRow(Profile(L"C:\\windows\\ServiceProfiles\\LocalService", L"S-1-5-19"));
  auto& wmi = Wmi().Results(hk::test::kStartupQuery);
  wmi.AddRow(StartupCommand(L"hk-described", L"Public", kWmiRunLocation, L"\"" + described + L"\" -min"));
  wmi.AddRow(StartupCommand(L"hk-bare-registry", L"Public", kWmiRunLocation, bare + L" /x"));
  wmi.AddRow(StartupCommand(L"hk-bare-folder", L"Public", L"Common Startup", bare));
  wmi.AddRow(StartupCommand(L"hk-service", L"NT AUTHORITY\\LOCAL SERVICE", kWmiRunLocation, L"C:\\svc\\s.bat"));
  wmi.AddRow(
      StartupCommand(L"hk-program-files", L"Public", kWmiRunLocation, L"%ProgramFiles%\\hk-startup-test\\app.exe -q"));
  wmi.AddRow(StartupCommand(L"hk-program-files-x86", L"Public", kWmiRunLocation,
                            L"%ProgramFiles(x86)%\\hk-startup-test\\app.exe"));
  wmi.AddRow(StartupCommand(L"hk-doubled", L"Public", L"Startup", L"C:\\\\tools\\\\\\\\doubled.exe --now"));
  wmi.AddRow(StartupCommand(L"Gr\u00fc\u00dfe-app", kTestUser, L"Startup", bare));
  wmi.AddRow(StartupCommand(L"hk-script", L"Public", kWmiRunLocation, L"C:\\tools\\run.bat /s"));

  registry_.Bytes(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedStartupFolder, L"Gr\u00fc\u00dfe-app.lnk",
                  {3, 0, 0, 0, 0});
  registry_.Text(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, L"hk-run32-described", L"\"" + described + L"\" --tray");
  registry_.Text(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, L"hk-run32-braced", braced);
  registry_.Text(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, L"hk-run32-bare", bare);
  // Longer than the 255 bytes a first read takes.
  registry_.Text(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, L"hk-run32-long",
                 L"\"" + described + L"\" " + std::wstring(300, L'x'));
  registry_.Text(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kRunKey, L"hk-run64-only", described);
  registry_.Text(HKEY_CURRENT_USER, KEY_WOW64_32KEY, kRunKey, L"hk-run32-user", described);
  registry_.Bytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun32, L"hk-run32-braced", {3, 0, 0, 0, 0});
  registry_.Bytes(HKEY_CURRENT_USER, KEY_WOW64_64KEY, kApprovedRun32, L"hk-run32-user", {7, 0, 0, 0, 0});

  const Json::Value answer = List();
  EXPECT_EQ(answer["toolId"], 15);
  EXPECT_EQ(answer["responseId"], 0);
  EXPECT_EQ(answer["isSuccess"], "true");
  EXPECT_EQ(answer["responseCode"], 15300);
  EXPECT_EQ(answer["responseData"]["WebClientID"], "web-list");
  auto rows = ByName(answer);

  struct Expected {
    const char* name;
    std::string description;  // empty: not listed
    std::wstring location;
    const char* user;
    const char* status;
    const char* type;
  };
  const std::string describedText = "Startup test described";
  std::vector<Expected> expected = {
      {"hk-described", describedText, described, "Public", "Enabled", "Registry"},
      {"hk-bare-registry", "", L"", "", "", ""},
      {"hk-bare-folder", "hk-bare-folder", bare, "Public", "Enabled", "Folder"},
      {"hk-service", "", L"", "", "", ""},
      {"hk-program-files", describedText, L"C:\\Program Files\\hk-startup-test\\app.exe", "Public", "Enabled",
       "Registry"},
      {"hk-program-files-x86", "", L"", "", "", ""},
      {"hk-doubled", "hk-doubled", L"C:\\tools\\doubled.exe", "Public", "Enabled", "Folder"},
      {"Gr\xc3\xbc\xc3\x9f"
       "e-app",
       "Gr\xc3\xbc\xc3\x9f"
       "e-app",
       bare, "HKTEST\\startup-tester", "Disabled", "Folder"},
      {"hk-script", "hk-script", L"C:\\tools\\run.bat /s", "Public", "Enabled", "Registry"},
      {"hk-run64-only", "", L"", "", "", ""},
      {"hk-run32-bare", "", L"", "", "", ""},
  };
  if (wow64_) {
    expected.push_back({"hk-run32-described", describedText, described, "Public", "Enabled", "Registry"});
    expected.push_back({"hk-run32-braced", "hk-run32-braced", braced, "Public", "Disabled", "Registry"});
    expected.push_back({"hk-run32-long", describedText, described, "Public", "Enabled", "Registry"});
    expected.push_back({"hk-run32-user", describedText, described, "Public", "Disabled", "Registry"});
  }
  for (const Expected& e : expected) {
    const auto found = rows.find(e.name);
    if (e.description.empty()) {
      EXPECT_EQ(found, rows.end()) << e.name << " should not be listed";
      continue;
    }
    ASSERT_NE(found, rows.end()) << e.name << " is missing from " << answer["responseData"];
    Json::Value want(Json::objectValue);
    want["NAME"] = e.name;
    want["DESCRIPTION"] = e.description;
    want["LOCATION"] = hk::ToUtf8(e.location);
    want["USER"] = e.user;
    want["STATUS"] = e.status;
    want["STARTUP_TYPE"] = e.type;
    EXPECT_EQ(found->second, want) << e.name;
  }

  // WMI's rows in its order, then the 32-bit view of the machine, then the user's.
  EXPECT_LT(PositionOf(answer, "hk-described"), PositionOf(answer, "hk-script"));
  if (wow64_) {
    EXPECT_LT(PositionOf(answer, "hk-script"), PositionOf(answer, "hk-run32-described"));
    EXPECT_LT(PositionOf(answer, "hk-run32-described"), PositionOf(answer, "hk-run32-user"));
  }
  EXPECT_TRUE(Logged("Path not found...!@ C:\\Program Files(x86)\\hk-startup-test\\app.exe")) << Log();
  EXPECT_TRUE(Logged("Startup programs Listed successfully..!!")) << Log();
  EXPECT_TRUE(Wmi().AllReleasedOnce()) << Wmi().Accounting();
  EXPECT_TRUE(com_.outer_kept && com_.nothing_left);
}

TEST_F(StartupListing, ApprovalValuesDecideTheStatus) {
  struct Case {
    const wchar_t* name;
    std::vector<uint8_t> folder;  // StartupFolder value of name + ".lnk"; empty: none
    std::vector<uint8_t> run;     // Run value; empty: none
    const wchar_t* user;
    const char* status;
  };
  const Case cases[] = {
      {L"hk-approval-02", {}, {2, 0, 0, 0, 0}, L"Public", "Enabled"},
      {L"hk-approval-03", {}, {3, 0, 0, 0, 0}, L"Public", "Disabled"},
      {L"hk-approval-06", {}, {6, 0, 0, 0, 0}, L"Public", "Enabled"},
      {L"hk-approval-07", {}, {7, 0, 0, 0, 0}, L"Public", "Disabled"},
      {L"hk-approval-missing", {}, {}, L"Public", "Enabled"},
      {L"hk-approval-folder-first", {3, 0, 0, 0, 0}, {2, 0, 0, 0, 0}, L"Public", "Disabled"},
      {L"hk-approval-folder-enabled", {2, 0, 0, 0, 0}, {3, 0, 0, 0, 0}, L"Public", "Enabled"},
      {L"hk-approval-user-run", {}, {9, 0, 0, 0, 0}, kTestUser, "Disabled"},
      {L"hk-approval-user-folder", {5, 0, 0, 0, 0}, {}, kTestUser, "Disabled"},
      // No loaded profile: the user's keys are not found.
      {L"hk-approval-no-profile", {}, {}, L"HKTEST\\nobody", "Enabled"},
  };
  for (const Case& c : cases) {
    const bool isPublic = std::wstring(c.user) == L"Public";
    const HKEY hive = isPublic ? HKEY_LOCAL_MACHINE : HKEY_USERS;
    const std::wstring prefix = isPublic ? L"" : kUserPrefix;
    if (!c.folder.empty())
      registry_.Bytes(hive, KEY_WOW64_64KEY, prefix + kApprovedStartupFolder, c.name + std::wstring(L".lnk"), c.folder);
    if (!c.run.empty()) registry_.Bytes(hive, KEY_WOW64_64KEY, prefix + kApprovedRun, c.name, c.run);
    Wmi().Results(hk::test::kStartupQuery).AddRow(StartupCommand(c.name, c.user, kWmiRunLocation, L"C:\\t\\x.bat"));
  }
  // Keys of the user hive exist for every user case above.
  registry_.Key(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedRun);
  registry_.Key(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedStartupFolder);

  const auto rows = ByName(List());
  for (const Case& c : cases) {
    const auto found = rows.find(hk::ToUtf8(c.name));
    ASSERT_NE(found, rows.end()) << hk::ToUtf8(c.name);
    EXPECT_EQ(found->second["STATUS"], c.status) << hk::ToUtf8(c.name);
  }
  EXPECT_TRUE(Logged("Cannot open reg -- key of user HKTEST\\nobody !!")) << Log();
}

TEST_F(StartupListing, FailuresAnswerNoAppsFound) {
  struct Case {
    const char* name;
    void (*arrange)(hk::test::FakeWmi&);
    const char* logged;
  };
  const Case cases[] = {
      {"WMI unreachable", [](hk::test::FakeWmi& f) { f.Fail(hk::test::FakeWmiStep::kConnectServer); },
       "getObjectsPointer() failed..!"},
      {"query refused", [](hk::test::FakeWmi& f) { f.Results(hk::test::kStartupQuery).FailExecQuery(); },
       "getObjectsPointer() failed..!"},
      {"row throws",
       [](hk::test::FakeWmi& f) {
         f.Results(hk::test::kStartupQuery).AddRow().Text(L"Name", L"x").ThrowOnGet(L"Command");
       },
       "Exception occured while Enumerating objects inside getObject() method..!!!"},
  };
  for (const Case& c : cases) {
    hk::test::FakeWmi& fake = FreshWmi();
    c.arrange(fake);
    const Json::Value answer = List();
    EXPECT_EQ(answer["responseCode"], 15300) << c.name;
    EXPECT_EQ(answer["responseData"]["APPS_LIST"], "NO_APPS_FOUND") << c.name;
    EXPECT_EQ(answer["responseData"]["WebClientID"], "web-list") << c.name;
    EXPECT_TRUE(Logged(c.logged)) << c.name << "\n" << Log();
    EXPECT_TRUE(fake.AllReleasedOnce()) << c.name << "\n" << fake.Accounting();
    EXPECT_TRUE(com_.outer_kept && com_.nothing_left) << c.name;
  }
  EXPECT_TRUE(Logged("Failed to list StartupPrograms..!!!")) << Log();
}

}  // namespace
