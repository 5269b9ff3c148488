// Tool 15's plain rules: paths, approval bytes, translations, descriptions.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
#include "tools/startup/startup_rules.h"

namespace {

using namespace hk::startup;

TEST(StartupRules, CommandsBecomeExecutablePaths) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {CleanCommandPath(L"\"%ProgramFiles%\\Vendor\\app.exe\" /background", L'D'),
       L"D:\\Program Files\\Vendor\\app.exe"},
      {CleanCommandPath(L"%ProgramFiles(x86)%\\App\\a.exe", L'D'), L"D:\\Program Files(x86)\\App\\a.exe"},
      {CleanCommandPath(L"C:\\\\Tools\\\\\\\\deep\\\\x.exe", L'D'), L"C:\\Tools\\deep\\x.exe"},
      {CleanCommandPath(L"C:\\TOOLS\\APP.EXE -x", L'D'),
       L"C:\\TOOLS\\APP.EXE -x"},  // the extension is matched with case
      // What the version lookup opens keeps a quote that came before the variable.
      {ExpandProgramFiles(L"\"%ProgramFiles%\\A\\a.exe\" -q", L'C'), L"C:\"\\Program Files\\A\\a.exe\" -q"},
      {ExecutablePart(L"\"C:\\A\\a.exe\" -min"), L"C:\\A\\a.exe"},
      {CleanCommandPath(L"", L'D'), L""},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(path, expected) << hk::ToUtf8(expected);
}

TEST(StartupRules, OddFirstBytesUpToNineDisable) {
  for (int byte = 0; byte <= 12; ++byte) {
    EXPECT_EQ(ApprovedState({uint8_t(byte), 0, 0, 0, 0}), byte % 2 == 1 && byte <= 9 ? 0 : 1) << "first byte " << byte;
  }
  EXPECT_EQ(ApprovedState({}), 1);
}

TEST(StartupRules, TranslationTriesInOrder) {
  struct Case {
    const char* name;
    std::vector<Translation> table;
    uint16_t user;
    size_t chosen;
  };
  const Case cases[] = {
      {"exact before primary", {{0x809, 1200}, {0x409, 1200}}, 0x409, 1},
      {"the same primary language", {{0x407, 1200}, {0x809, 1200}}, 0x409, 1},
      {"neutral next", {{0x40c, 1200}, {0x000, 1200}}, 0x407, 1},
      {"then English", {{0x40c, 1200}, {0x809, 1200}}, 0x407, 1},
      {"else the first", {{0x40c, 1200}, {0x410, 1200}}, 0x407, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseTranslation(c.table, c.user), c.chosen) << c.name;
}

TEST(StartupRules, DescriptionsAndUsers) {
  const std::pair<std::optional<std::wstring>, std::optional<std::wstring>> cases[] = {
      {RunValueDescription(L"PATH_NOT_FOUND", L"item"), std::nullopt},
      {RunValueDescription(L"NULL", L"item"), L"item"},
      {RunValueDescription(L"zeta tool", L"item"), L"zeta tool"},
      {RunValueDescription(L"{6F1A2B3C-0000}", L"item"), L"item"},
      {RunValueDescription(L"\u00c9diteur", L"item"), L"item"},
      {RunValueDescription(L"", L"item"), L""},
      {WmiDescription(L"{6F1A2B3C-0000}", L"item"), L"{6F1A2B3C-0000}"},
      {ProfileFolderName(L"NT AUTHORITY\\NETWORK SERVICE"), L"NetworkService"},
      {ProfileFolderName(L"a\\b\\carol"), L"carol"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "row " << i;
  EXPECT_TRUE(IsServiceAccountSid(L"S-1-5-21-123"));
  EXPECT_FALSE(IsServiceAccountSid(L"S-1-5-21-1234"));
  EXPECT_FALSE(IsServiceAccountSid(L""));
}

}  // namespace
