// UTF-8 <-> UTF-16 conversions and the error texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/messages.h"
#include "support/wire_texts.h"

namespace {

using hk::test::Take;

const char kMixed[] = "Gr\xC3\xBC\xC3\x9F \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";  // "Grüß 日本 😀"
const wchar_t kMixedWide[] = L"Gr\u00FC\u00DF \u65E5\u672C \xD83D\xDE00";

TEST(TextConversions, Utf8BothWaysWithReplacementCharacters) {
  struct Case {
    const char* utf8;
    std::wstring wide;
    const char* back;  // after the way back
  };
  const Case cases[] = {
      {kMixed, kMixedWide, kMixed},
      {"", L"", ""},
      {"a\xFF"
       "b\xC3",
       L"a\uFFFDb\uFFFD",
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"},
      {"caf\xE9", L"caf\uFFFD", "caf\xEF\xBF\xBD"},  // Latin-1, not UTF-8; the lead byte at the end keeps the NUL
  };
  for (const Case& c : cases) {
    wchar_t* wide = nullptr;
    ASSERT_TRUE(ChangeToWideStr(c.utf8, &wide)) << c.utf8;
    EXPECT_EQ(std::wstring(wide), c.wide) << c.utf8;
    char* utf8 = nullptr;
    ASSERT_TRUE(ChangeWideToUTF8Str(wide, &utf8)) << c.utf8;
    EXPECT_EQ(Take(utf8), c.back);
    hk::FreeText(wide);
    ASSERT_TRUE(ChangeAnsiToUTF8Str(c.utf8, &utf8)) << c.utf8;
    EXPECT_EQ(Take(utf8), c.back) << "the input is read as UTF-8, not the ANSI code page";

    std::wstring wideString = L"stale";
    std::string narrow = "stale";
    EXPECT_TRUE(ConvertToWideCString(c.utf8, wideString) == 0 && wideString == c.wide) << c.utf8;
    EXPECT_TRUE(ConvertToUTF8CString(wideString, narrow) == 0 && narrow == c.back) << c.utf8;
  }
  char* utf8 = nullptr;
  ASSERT_TRUE(ChangeWideToUTF8Str(L"x\xD800y", &utf8));
  EXPECT_EQ(Take(utf8), "x\xEF\xBF\xBDy") << "a lone surrogate";

  wchar_t* wide = nullptr;
  utf8 = nullptr;
  EXPECT_TRUE(!ChangeToWideStr(nullptr, &wide) && wide == nullptr);
  EXPECT_TRUE(!ChangeWideToUTF8Str(nullptr, &utf8) && !ChangeAnsiToUTF8Str(nullptr, &utf8) && utf8 == nullptr);
}

TEST(ErrorTexts, SystemMessageOnOneLineElseTheTableElseUnknown) {
  const std::string denied = Take(GetSystemErrorText(ERROR_ACCESS_DENIED));
  EXPECT_NE(denied.find("denied"), std::string::npos) << denied;
  EXPECT_EQ(denied.find('\n'), std::string::npos) << "no line breaks: " << denied;

  EXPECT_EQ(Take(GetSystemErrorText(17048)),
            "OfficeUpdateError : This installation requires Windows Installer 3.1 or greater.");
  EXPECT_EQ(Take(GetSystemErrorText(12345)), "Unknown Error. Code : 12345");
  EXPECT_EQ(GetKnownErrorText(17022), "Unknown Error. Code : 17022") << "gaps in the table are unknown";

  char* text = GetSystemErrorText(12345);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(_msize(text), 4096u);
  for (size_t i = std::strlen(text); i < 4096; ++i) ASSERT_EQ(text[i], '\0') << i;
  hk::FreeText(text);
}

}  // namespace
