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
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"\"C:\\Program Files\\App\\app.exe\" -min", L"C:\\Program Files\\App\\app.exe"},
      {L"%ProgramFiles%\\Vendor\\app.exe /background", L"D:\\Program Files\\Vendor\\app.exe"},
      {L"\"%ProgramFiles%\\Vendor\\app.exe\"", L"D:\\Program Files\\Vendor\\app.exe"},
      {L"%ProgramFiles(x86)%\\App\\a.exe", L"D:\\Program Files(x86)\\App\\a.exe"},
      {L"C:\\\\Tools\\\\\\\\deep\\\\x.exe", L"C:\\Tools\\deep\\x.exe"},
      {L"C:\\Tools\\script.bat --now", L"C:\\Tools\\script.bat --now"},
      {L"C:\\TOOLS\\APP.EXE -x", L"C:\\TOOLS\\APP.EXE -x"},  // the extension is matched with case
      {L"", L""},
  };
  for (const auto& [command, path] : cases) EXPECT_EQ(CleanCommandPath(command, L'D'), path) << hk::ToUtf8(command);
  // What the version lookup opens keeps a quote that came before the variable.
  EXPECT_EQ(ExpandProgramFiles(L"\"%ProgramFiles%\\A\\a.exe\" -q", L'C'), L"C:\"\\Program Files\\A\\a.exe\" -q");
  EXPECT_EQ(ExecutablePart(L"\"C:\\A\\a.exe\" -min"), L"C:\\A\\a.exe");
}

TEST(StartupRules, OddFirstBytesUpToNineDisable) {
  for (int byte = 0; byte <= 12; ++byte) {
    const bool disabled = byte % 2 == 1 && byte <= 9;
    EXPECT_EQ(ApprovedState({uint8_t(byte), 0, 0, 0, 0}), disabled ? 0 : 1) << "first byte " << byte;
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
      {"the user's language, not the first entry", {{0x407, 1200}, {0x409, 1252}}, 0x409, 1},
      {"exact before primary", {{0x809, 1200}, {0x409, 1200}}, 0x409, 1},
      {"the same primary language", {{0x407, 1200}, {0x809, 1200}}, 0x409, 1},
      {"neutral next", {{0x40c, 1200}, {0x000, 1200}}, 0x407, 1},
      {"then English", {{0x40c, 1200}, {0x809, 1200}}, 0x407, 1},
      {"else the first", {{0x40c, 1200}, {0x410, 1200}}, 0x407, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseTranslation(c.table, c.user), c.chosen) << c.name;
}

TEST(StartupRules, DescriptionsAndUsers) {
  const std::pair<const wchar_t*, std::optional<std::wstring>> descriptions[] = {
      {L"PATH_NOT_FOUND", std::nullopt}, {L"NULL", L"item"},         {L"zeta tool", L"zeta tool"},
      {L"{6F1A2B3C-0000}", L"item"},     {L"\u00c9diteur", L"item"}, {L"", L""},
  };
  for (const auto& [lookedUp, shown] : descriptions) {
    EXPECT_EQ(RunValueDescription(lookedUp, L"item"), shown) << hk::ToUtf8(lookedUp);
  }
  EXPECT_EQ(WmiDescription(L"{6F1A2B3C-0000}", L"item"), L"{6F1A2B3C-0000}");

  EXPECT_EQ(ProfileFolderName(L"NT AUTHORITY\\LOCAL SERVICE"), L"LocalService");
  EXPECT_EQ(ProfileFolderName(L"NT AUTHORITY\\NETWORK SERVICE"), L"NetworkService");
  EXPECT_EQ(ProfileFolderName(L"a\\b\\carol"), L"carol");
  EXPECT_TRUE(IsServiceAccountSid(L"S-1-5-21-123"));
  EXPECT_FALSE(IsServiceAccountSid(L"S-1-5-21-1234"));
  EXPECT_FALSE(IsServiceAccountSid(L""));
}

}  // namespace
