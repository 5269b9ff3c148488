// The plain part of the sharing tool: its name tables at their edges, access
// kinds, and request texts read as numbers.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/value.h>

#include <string>

#include "tools/sharing/sharing.h"

namespace {

using namespace hk::sharing;

TEST(SharingTexts, TablesCompareWholeUnsignedValues) {
  const std::pair<std::string, std::string> table[] = {
      {ShareTypeText(STYPE_DISKTREE), "Disk drive"},
      {ShareTypeText(0x80000000u), "Special Share"},
      {ShareTypeText(0x80000003u), ""},  // a flag with a type
      {ShareTypeText(4), ""},
      {SharePermissionText(ACCESS_DELETE), "Permission to delete the resource"},
      {SharePermissionText(ACCESS_READ | ACCESS_WRITE), ""},
      {SessionUserFlagsText(SESS_GUEST | SESS_NOENCRYPTION), ""},
      {FilePermissionText(0), "NO ACCESS"},
      {FilePermissionText(6), "WRITE,CREATE"},
      {FilePermissionText(8), ""},
      {MaxUsesText(0xFFFFFFFFu), "Maximum Allowed"},
      {MaxUsesText(0x80000000u), "2147483648"},
      {ClientTypeText(L"os/2 Lm 2.0"), "LAN Manager for MS-OS/2 2.0 clients."},
      {ClientTypeText(L"DOS LM 1.0 "), ""},
      {ClientTypeText(L"Windows 10 Enterprise 19045"), ""},
      // The dialog's standard masks come with real ACLs in the operation tests.
      {std::to_string(AccessKindOf(GRANT_ACCESS, DELETE | WRITE_DAC)), "1"},       // change
      {std::to_string(AccessKindOf(DENY_ACCESS, READ_CONTROL | WRITE_DAC)), "5"},  // deny read
      {std::to_string(AccessKindOf(SET_ACCESS, 0x1F01FF)), "-1"},
  };
  for (size_t i = 0; i < std::size(table); ++i) EXPECT_EQ(table[i].first, table[i].second) << "row " << i;
}

TEST(SharingRequests, TextsReadAsNumbersAndTheKeyword) {
  Json::Value request;
  request["limit"] = 25;
  request["list"] = Json::Value(Json::arrayValue);
  const std::pair<uint32_t, uint32_t> table[] = {
      {MaxUsesFromText("-1"), 0xFFFFFFFFu},
      {MaxUsesFromText(" 7users"), 7},
      {MaxUsesFromText("abc"), 0},
      {MaxUsesFromText("99999999999"), 0x7FFFFFFFu},
      {FileIdFromText("4294967295"), 0xFFFFFFFFu},
      {FileIdFromText("4294967296"), 0xFFFFFFFFu},
      {FileIdFromText("-3"), 0},
      {IsAllShares("aLL_sHARES"), true},
      {IsAllShares("All_Share"), false},
      {RequestText(request, "limit") == "25", true},
      {RequestText(request, "list").empty(), true},
      {RequestText(Json::Value("text"), "limit").empty(), true},
  };
  for (size_t i = 0; i < std::size(table); ++i) EXPECT_EQ(table[i].first, table[i].second) << "row " << i;
}

TEST(SharingTexts, ComErrorTextsWithoutLineBreakOrMadeUp) {
  const std::string system = ComErrorText(ERROR_NOT_SUPPORTED);
  ASSERT_FALSE(system.empty());
  EXPECT_NE(system.back(), '\n');
  EXPECT_EQ(system.find("error 0x"), std::string::npos) << system;
  EXPECT_EQ(ComErrorText(0x8004FF05u), "IDispatch error #64773");
  EXPECT_EQ(ComErrorText(0x7654ABCDu), "Unknown error 0x7654ABCD");
}

}  // namespace
