#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/messages.h"

namespace {

const char kMixed[] = "Gr\xC3\xBC\xC3\x9F \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";  // "Grüß 日本 😀"
const wchar_t kMixedWide[] = L"Gr\u00FC\u00DF \u65E5\u672C \xD83D\xDE00";

TEST(ChangeToWideStr, ConvertsUtf8IncludingNonBmp) {
  wchar_t* wide = nullptr;
  ASSERT_TRUE(ChangeToWideStr(kMixed, &wide));
  EXPECT_STREQ(wide, kMixedWide);
  EXPECT_EQ(std::wcslen(wide), 10u) << "the emoji is a surrogate pair";
  hk::FreeText(wide);
}

TEST(ChangeToWideStr, InvalidBytesBecomeReplacementCharacters) {
  wchar_t* wide = nullptr;
  const char text[] = {'a', '\xFF', 'b', '\xC3', '\0'};
  ASSERT_TRUE(ChangeToWideStr(text, &wide));
  EXPECT_STREQ(wide, L"a\uFFFDb\uFFFD");
  hk::FreeText(wide);
}

TEST(ChangeToWideStr, EmptyTextConvertsNullRefuses) {
  wchar_t* wide = nullptr;
  ASSERT_TRUE(ChangeToWideStr("", &wide));
  EXPECT_STREQ(wide, L"");
  hk::FreeText(wide);
  wide = nullptr;
  EXPECT_FALSE(ChangeToWideStr(nullptr, &wide));
  EXPECT_EQ(wide, nullptr);
}

TEST(ChangeWideToUTF8Str, ConvertsNonBmpAndReplacesLoneSurrogates) {
  char* utf8 = nullptr;
  ASSERT_TRUE(ChangeWideToUTF8Str(kMixedWide, &utf8));
  EXPECT_STREQ(utf8, kMixed);
  hk::FreeText(utf8);

  utf8 = nullptr;
  ASSERT_TRUE(ChangeWideToUTF8Str(L"x\xD800y", &utf8));
  EXPECT_STREQ(utf8, "x\xEF\xBF\xBDy");
  hk::FreeText(utf8);

  EXPECT_FALSE(ChangeWideToUTF8Str(nullptr, &utf8));
}

TEST(ChangeAnsiToUTF8Str, ReencodesUtf8AsUtf8) {
  char* out = nullptr;
  ASSERT_TRUE(ChangeAnsiToUTF8Str(kMixed, &out));
  EXPECT_STREQ(out, kMixed) << "the input is read as UTF-8, not the ANSI code page";
  hk::FreeText(out);

  out = nullptr;
  // Latin-1 é is not UTF-8; a lead byte just before the end must not cost
  // the text its terminator.
  ASSERT_TRUE(ChangeAnsiToUTF8Str("caf\xE9", &out));
  EXPECT_STREQ(out, "caf\xEF\xBF\xBD");
  hk::FreeText(out);

  out = nullptr;
  EXPECT_FALSE(ChangeAnsiToUTF8Str(nullptr, &out));
  EXPECT_EQ(out, nullptr);
}

TEST(ConvertCStrings, RoundTripThroughReferenceCountedStrings) {
  std::wstring wide = L"stale";
  EXPECT_EQ(ConvertToWideCString(kMixed, wide), 0);
  EXPECT_EQ(wide, kMixedWide);
  std::string narrow = "stale";
  EXPECT_EQ(ConvertToUTF8CString(wide, narrow), 0);
  EXPECT_EQ(narrow, kMixed);

  EXPECT_EQ(ConvertToWideCString("", wide), 0);
  EXPECT_TRUE(wide.empty());
  EXPECT_EQ(ConvertToUTF8CString(L"", narrow), 0);
  EXPECT_TRUE(narrow.empty());
}

TEST(KnownErrorText, TableAndFallback) {
  EXPECT_EQ(GetKnownErrorText(17021), "OfficeUpdateError: Creating temp folder.");
  EXPECT_EQ(GetKnownErrorText(17048),
            "OfficeUpdateError : This installation requires Windows Installer 3.1 or greater.");
  EXPECT_EQ(GetKnownErrorText(0x240007),
            "Patch already Uninstalled and the changes will not be effective until the system is rebooted.");
  EXPECT_EQ(GetKnownErrorText(10003), "mf.db.agent.config.returned_zero_failure");
  EXPECT_EQ(GetKnownErrorText(12345), "Unknown Error. Code : 12345");
  EXPECT_EQ(GetKnownErrorText(17022), "Unknown Error. Code : 17022") << "gaps in the table are unknown";
}

std::string SystemText(uint32_t code) {
  char* text = GetSystemErrorText(code);
  std::string s = text ? text : "<null>";
  hk::FreeText(text);
  return s;
}

TEST(SystemErrorText, SystemMessageOnOneLine) {
  const std::string denied = SystemText(ERROR_ACCESS_DENIED);
  EXPECT_NE(denied.find("denied"), std::string::npos) << denied;
  EXPECT_EQ(denied.find('\n'), std::string::npos) << "no line breaks: " << denied;
  EXPECT_EQ(denied.find("Unknown Error"), std::string::npos);
}

TEST(SystemErrorText, CodesTheSystemDoesNotKnowUseTheTable) {
  EXPECT_EQ(SystemText(17021), "OfficeUpdateError: Creating temp folder.");
  EXPECT_EQ(SystemText(20001), "Patch update delayed since application is used by another process");
  EXPECT_EQ(SystemText(12345), "Unknown Error. Code : 12345");
}

TEST(SystemErrorText, FallbackBufferIsFourKilobytesZeroFilled) {
  char* text = GetSystemErrorText(12345);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(_msize(text), 4096u);
  for (size_t i = std::strlen(text); i < 4096; ++i) ASSERT_EQ(text[i], '\0') << i;
  hk::FreeText(text);
}

}  // namespace
