// Tool 15's plain rules: paths, descriptions, approval bytes, translations
// and the JSON the tool answers.
#include <gtest/gtest.h>
#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
#include "tools/startup/startup_rules.h"

namespace {

using namespace hk::startup;

std::string Show(const std::wstring& text) { return hk::ToUtf8(text); }

TEST(StartupRules, CommandsBecomeExecutablePaths) {
  struct Case {
    const wchar_t* command;
    const wchar_t* path;
  };
  const Case cases[] = {
      {L"\"C:\\Program Files\\App\\app.exe\" -min", L"C:\\Program Files\\App\\app.exe"},
      {L"%ProgramFiles%\\Vendor\\app.exe /background", L"D:\\Program Files\\Vendor\\app.exe"},
      {L"\"%ProgramFiles%\\Vendor\\app.exe\"", L"D:\\Program Files\\Vendor\\app.exe"},
      {L"%ProgramFiles(x86)%\\App\\a.exe", L"D:\\Program Files(x86)\\App\\a.exe"},
      {L"C:\\\\Tools\\\\\\\\deep\\\\x.exe", L"C:\\Tools\\deep\\x.exe"},
      {L"C:\\Tools\\script.bat --now", L"C:\\Tools\\script.bat --now"},
      // The search for the extension respects case.
      {L"C:\\TOOLS\\APP.EXE -x", L"C:\\TOOLS\\APP.EXE -x"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CleanCommandPath(c.command, L'D'), c.path) << Show(c.command);
  }
}

TEST(StartupRules, ProgramFilesExpansionAndTheLookedUpPart) {
  struct Case {
    const wchar_t* text;
    const wchar_t* expanded;
  };
  const Case cases[] = {
      {L"%ProgramFiles%\\Vendor\\app.exe", L"C:\\Program Files\\Vendor\\app.exe"},
      {L"%ProgramFiles(x86)%\\App\\a.exe -q", L"C:\\Program Files(x86)\\App\\a.exe -q"},
      // A quote before the variable stays where it was.
      {L"\"%ProgramFiles%\\A\\a.exe\"", L"C:\"\\Program Files\\A\\a.exe\""},
      {L"no variable", L"C:no variable"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpandProgramFiles(c.text, L'C'), c.expanded) << Show(c.text);
  }
  EXPECT_EQ(ExecutablePart(L"\"C:\\A\\a.exe\" -min"), L"C:\\A\\a.exe");
  EXPECT_EQ(ExecutablePart(L"C:\\A\\run.cmd x"), L"C:\\A\\run.cmd x");
}

TEST(StartupRules, OddFirstBytesUpToNineDisable) {
  for (int byte = 0; byte <= 12; ++byte) {
    const bool disabled = byte == 1 || byte == 3 || byte == 5 || byte == 7 || byte == 9;
    EXPECT_EQ(ApprovedState({static_cast<uint8_t>(byte), 0, 0, 0, 0}), disabled ? 0 : 1) << "first byte " << byte;
  }
  EXPECT_EQ(ApprovedState({}), 1);
  EXPECT_EQ(ApprovedState({0x02, 0x03}), 1) << "only the first byte counts";
}

TEST(StartupRules, LocationTypeAndPathRule) {
  EXPECT_STREQ(StartupType(L"Startup"), L"Folder");
  EXPECT_STREQ(StartupType(L"Common Startup"), L"Folder");
  EXPECT_STREQ(StartupType(L"common startup"), L"Registry");
  EXPECT_STREQ(StartupType(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"), L"Registry");

  struct Case {
    const wchar_t* type;
    const wchar_t* command;
    PathRule rule;
  };
  const Case cases[] = {
      {L"Registry", L"C:\\a\\app.exe -x", PathRule::kLookUp},
      {L"Registry", L"%ProgramFiles%\\a\\app.exe", PathRule::kLookUpProgramFiles},
      {L"Folder", L"%ProgramFiles%\\a\\app.exe", PathRule::kLookUpProgramFiles},
      {L"Folder", L"C:\\a\\app.exe", PathRule::kName},
      {L"Registry", L"C:\\a\\run.bat", PathRule::kName},
      {L"Registry", L"C:\\a\\APP.EXE", PathRule::kName},
      {L"Registry", L"%programfiles%\\a\\app.exe", PathRule::kLookUp},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChoosePathRule(c.type, c.command), c.rule) << Show(c.type) << " " << Show(c.command);
  }
}

TEST(StartupRules, DescriptionFallbacks) {
  struct Case {
    const wchar_t* lookedUp;
    std::optional<std::wstring> wmi;
    std::optional<std::wstring> run;
  };
  const Case cases[] = {
      {L"PATH_NOT_FOUND", std::nullopt, std::nullopt},     {L"NULL", L"item", L"item"},
      {L"Maker's tool", L"Maker's tool", L"Maker's tool"}, {L"", L"", L""},
      {L"{6F1A2B3C-0000}", L"{6F1A2B3C-0000}", L"item"},   {L"zeta", L"zeta", L"zeta"},
      {L"\u00c9diteur", L"\u00c9diteur", L"item"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WmiDescription(c.lookedUp, L"item"), c.wmi) << Show(c.lookedUp);
    EXPECT_EQ(RunValueDescription(c.lookedUp, L"item"), c.run) << Show(c.lookedUp);
  }
}

TEST(StartupRules, UsersAndTheirProfiles) {
  const std::pair<const wchar_t*, const wchar_t*> names[] = {
      {L"NT AUTHORITY\\LOCAL SERVICE", L"LocalService"},
      {L"NT AUTHORITY\\NETWORK SERVICE", L"NetworkService"},
      {L"HOST\\alice", L"alice"},
      {L"a\\b\\carol", L"carol"},
      {L"Public", L"Public"},
      {L"HOST\\", L""},
  };
  for (const auto& [user, folder] : names) EXPECT_EQ(ProfileFolderName(user), folder) << Show(user);

  const std::pair<const wchar_t*, bool> sids[] = {
      {L"", false},
      {L"S-1-5-18", true},
      {L"S-1-5-19", true},
      {L"S-1-5-20", true},
      {L"S-1-5-21-123", true},
      {L"S-1-5-21-1234", false},
      {L"S-1-5-21-1-2-3-1001", false},
  };
  for (const auto& [sid, service] : sids) EXPECT_EQ(IsServiceAccountSid(sid), service) << Show(sid);
}

TEST(StartupRules, TranslationTriesInOrder) {
  struct Case {
    const char* name;
    std::vector<Translation> table;
    uint16_t user;
    size_t chosen;
  };
  const Case cases[] = {
      {"exact user language wins over earlier entries", {{0x407, 1200}, {0x409, 1252}}, 0x409, 1},
      {"exact match before a primary match", {{0x809, 1200}, {0x409, 1200}}, 0x409, 1},
      {"same primary language", {{0x407, 1200}, {0x809, 1200}}, 0x409, 1},
      {"neutral when the user's language is missing", {{0x40c, 1200}, {0x000, 1200}}, 0x407, 1},
      {"English when nothing closer", {{0x40c, 1200}, {0x809, 1200}}, 0x407, 1},
      {"the first when nothing matches", {{0x40c, 1200}, {0x410, 1200}}, 0x407, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseTranslation(c.table, c.user), c.chosen) << c.name;
}

TEST(StartupRules, RowsAndAnswers) {
  const Json::Value row =
      StartupRowJson({L"Gr\u00fc\u00dfe", L"Beschreibung", L"C:\\a.exe", L"HOST\\\u00e5sa", false, L"Folder"});
  EXPECT_EQ(row["NAME"],
            "Gr\xc3\xbc\xc3\x9f"
            "e");
  EXPECT_EQ(row["USER"], "HOST\\\xc3\xa5sa");
  EXPECT_EQ(row["STATUS"], "Disabled");
  EXPECT_EQ(row["STARTUP_TYPE"], "Folder");
  EXPECT_EQ(row.getMemberNames(),
            (std::vector<std::string>{"DESCRIPTION", "LOCATION", "NAME", "STARTUP_TYPE", "STATUS", "USER"}));

  struct ListCase {
    const char* name;
    Json::Value before;
    bool noApps;
  };
  Json::Value withRows(Json::objectValue);
  withRows["APPS_LIST"][0] = row;
  Json::Value nullList(Json::objectValue);
  nullList["APPS_LIST"] = Json::Value();
  Json::Value emptyList(Json::objectValue);
  emptyList["APPS_LIST"] = Json::Value(Json::arrayValue);
  const ListCase lists[] = {{"nothing listed", Json::Value(), true},
                            {"null list", nullList, true},
                            {"empty list", emptyList, true},
                            {"rows", withRows, false}};
  for (const ListCase& c : lists) {
    Json::Value data = c.before;
    FinishListData(data, "web-1");
    EXPECT_EQ(data["WebClientID"], "web-1") << c.name;
    EXPECT_EQ(data["APPS_LIST"] == Json::Value("NO_APPS_FOUND"), c.noApps) << c.name;
  }

  Json::Value action;
  FillActionData(action, "web-2", "disable", 0);
  EXPECT_EQ(action["ACTION_NAME"], "disable");
  EXPECT_EQ(action["ERROR_CODE"], "0");
  EXPECT_EQ(action["ACTION_RESULT"], "Failed");
  FillActionData(action, "web-2", "ENABLE", 1);
  EXPECT_EQ(action["ACTION_RESULT"], "Success");

  EXPECT_TRUE(EqualsNoCase(std::string("all_Apps"), "ALL_APPS"));
  EXPECT_FALSE(EqualsNoCase(std::string("ALL_APP"), "ALL_APPS"));
  EXPECT_TRUE(EqualsNoCase(std::wstring(L"PUBLIC"), L"Public"));
}

}  // namespace
