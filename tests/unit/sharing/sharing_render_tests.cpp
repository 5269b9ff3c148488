// The plain part of the sharing tool: its name tables, the member flags, and
// request texts read as numbers.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/value.h>

#include <string>
#include <vector>

#include "tools/sharing/sharing.h"

namespace {

using namespace hk::sharing;

struct TextRow {
  uint32_t value;
  std::string text;
};

TEST(SharingTexts, TablesCompareWholeUnsignedValues) {
  const std::vector<TextRow> types = {{0, "Disk drive"},
                                      {1, "Print queue"},
                                      {2, "Communication device"},
                                      {3, "Interprocess communication (IPC)"},
                                      {0x40000000u, "A temporary share"},
                                      {0x80000000u, "Special Share"},
                                      {0x80000003u, ""},
                                      {4, ""}};
  for (const auto& row : types) EXPECT_EQ(ShareTypeText(row.value), row.text) << "type " << row.value;
  const std::vector<TextRow> permissions = {
      {16, "Permission to delete the resource"},
      {32, "Permission to modify the resource's attributes (such as the date and time when a file was last modified)"},
      {0, ""},
      {3, ""},
      {128, ""}};
  for (const auto& row : permissions) EXPECT_EQ(SharePermissionText(row.value), row.text) << "permission " << row.value;
  const std::vector<TextRow> flags = {
      {1, "The user specified by the sesi502_username member established the session using a guest account."},
      {2,
       "The user specified by the sesi502_username member established the session without using password "
       "encryption."},
      {0, ""},
      {3, ""}};
  for (const auto& row : flags) EXPECT_EQ(SessionUserFlagsText(row.value), row.text) << "flags " << row.value;
  const std::vector<TextRow> files = {
      {0, "NO ACCESS"}, {3, "READ,WRITE"}, {5, "READ,CREATE"}, {6, "WRITE,CREATE"}, {7, "READ,WRITE,CREATE"}, {8, ""},
      {9, ""}};
  for (const auto& row : files) EXPECT_EQ(FilePermissionText(row.value), row.text) << "file " << row.value;
  EXPECT_EQ(MaxUsesText(0xFFFFFFFFu), "Maximum Allowed");
  EXPECT_EQ(MaxUsesText(0x80000000u), "2147483648");
}

TEST(SharingTexts, OldClientTypesInAnyCaseOnly) {
  const std::vector<std::pair<std::wstring, std::string>> table = {
      {L"DOS LM 1.0", "LAN Manager for MS-DOS 1.0 clients"},
      {L"dos lm 2.0", "LAN Manager for MS-DOS 2.0 clients."},
      {L"OS/2 LM 1.0", "LAN Manager for MS-OS/2 1.0 clients."},
      {L"os/2 Lm 2.0", "LAN Manager for MS-OS/2 2.0 clients."},
      {L"Windows 10 Enterprise 19045", ""},
      {L"DOS LM 1.0 ", ""}};
  for (const auto& [name, text] : table) EXPECT_EQ(ClientTypeText(name), text) << hk::sharing::Utf8(name.c_str());
}

TEST(SharingTexts, AccessKindsGiveTheSixFlags) {
  struct Row {
    ACCESS_MODE mode;
    DWORD mask;
    const char* flags;  // ACCESS_FULL, _CHANGE, _READ, DENY_FULL, _CHANGE, _READ
  };
  // The standard masks come with real ACLs in the operation tests.
  const Row table[] = {{GRANT_ACCESS, DELETE | WRITE_DAC, "011000"},
                       {GRANT_ACCESS, READ_CONTROL | WRITE_DAC, "001000"},
                       {DENY_ACCESS, DELETE | READ_CONTROL | WRITE_DAC, "000111"},
                       {DENY_ACCESS, READ_CONTROL, "000001"},
                       {SET_ACCESS, 0x1F01FF, "000000"}};
  for (const Row& row : table) {
    ShareMember member;
    member.accessKind = AccessKindOf(row.mode, row.mask);
    const Json::Value json = MemberRow("Docs", member);
    std::string flags;
    for (const char* key : {"ACCESS_FULL", "ACCESS_CHANGE", "ACCESS_READ", "DENY_FULL", "DENY_CHANGE", "DENY_READ"}) {
      flags += json[key].asString();
    }
    EXPECT_EQ(flags, row.flags) << "mode " << row.mode << " mask " << std::hex << row.mask;
    EXPECT_EQ(json["USER_NAME"], "-");
  }
}

TEST(SharingRequests, TextsReadAsNumbersAndTheKeyword) {
  const std::vector<std::pair<std::string, uint32_t>> limits = {
      {"-1", 0xFFFFFFFFu}, {"10", 10}, {"abc", 0}, {"", 0}, {" 7users", 7}, {"99999999999", 0x7FFFFFFFu}};
  for (const auto& [text, value] : limits) EXPECT_EQ(MaxUsesFromText(text), value) << text;
  const std::vector<std::pair<std::string, uint32_t>> ids = {
      {"4294967295", 0xFFFFFFFFu}, {"4294967296", 0xFFFFFFFFu}, {"abc", 0}, {"-3", 0}};
  for (const auto& [text, value] : ids) EXPECT_EQ(FileIdFromText(text), value) << text;
  for (const char* name : {"All_Shares", "all_shares", "aLL_sHARES"}) EXPECT_TRUE(IsAllShares(name)) << name;
  for (const char* name : {"All_Share", "All Shares", ""}) EXPECT_FALSE(IsAllShares(name)) << name;
  Json::Value request;
  request["limit"] = 25;
  request["list"] = Json::Value(Json::arrayValue);
  EXPECT_EQ(RequestText(request, "limit"), "25");
  EXPECT_EQ(RequestText(request, "list"), "");
  EXPECT_EQ(RequestText(Json::Value("text"), "limit"), "");
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
