// The plain part of the sharing tool: name tables, member flags, rows, the
// request texts read as numbers, and the answers' fixed forms.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/value.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "tools/sharing/sharing.h"
#include "tools/sharing/sharing_render.h"

namespace {

using namespace hk::sharing;

TEST(SharingTexts, ShareTypesAreComparedAsWholeUnsignedValues) {
  const std::vector<std::pair<uint32_t, std::string>> table = {
      {0, "Disk drive"},
      {1, "Print queue"},
      {2, "Communication device"},
      {3, "Interprocess communication (IPC)"},
      {0x40000000u, "A temporary share"},
      {0x80000000u, "Special Share"},
      {0x80000003u, ""},  // the IPC share: a flag combined with a type
      {0x80000001u, ""},
      {4, ""},
      {0xFFFFFFFFu, ""},
  };
  for (const auto& [type, text] : table) EXPECT_EQ(ShareTypeText(type), text) << std::hex << type;
}

TEST(SharingTexts, SharePermissionsOnlyForSingleFlagsAndAll) {
  const std::vector<std::pair<uint32_t, std::string>> table = {
      {1, "Permission to read data from a resource and, by default, to execute the resource"},
      {2, "Permission to write data to the resource"},
      {4,
       "Permission to create an instance of the resource (such as a file); data can be written to the resource as "
       "the resource is created"},
      {8, "Permission to execute the resource"},
      {16, "Permission to delete the resource"},
      {32, "Permission to modify the resource's attributes (such as the date and time when a file was last modified)"},
      {64,
       "Permission to modify the permissions (read, write, create, execute, and delete) assigned to a resource for a "
       "user or application"},
      {127,
       "Permission to read, write, create, execute, and delete resources, and to modify their attributes and "
       "permissions"},
      {0, ""},
      {3, ""},
      {128, ""},
      {0x8000007Fu, ""},
  };
  for (const auto& [value, text] : table) EXPECT_EQ(SharePermissionText(value), text) << value;
}

TEST(SharingTexts, MaxUsesIsUnsigned) {
  EXPECT_EQ(MaxUsesText(0xFFFFFFFFu), "Maximum Allowed");
  EXPECT_EQ(MaxUsesText(0xFFFFFFFEu), "4294967294");
  EXPECT_EQ(MaxUsesText(0x80000000u), "2147483648");
  EXPECT_EQ(MaxUsesText(0), "0");
}

TEST(SharingTexts, SessionFlagsClientTypesAndFilePermissions) {
  EXPECT_EQ(std::string(SessionUserFlagsText(1)),
            "The user specified by the sesi502_username member established the session using a guest account.");
  EXPECT_EQ(std::string(SessionUserFlagsText(2)),
            "The user specified by the sesi502_username member established the session without using password "
            "encryption.");
  for (uint32_t flags : {0u, 3u, 4u}) EXPECT_STREQ(SessionUserFlagsText(flags), "") << flags;

  const std::vector<std::pair<std::wstring, std::string>> clients = {
      {L"DOS LM 1.0", "LAN Manager for MS-DOS 1.0 clients"},
      {L"dos lm 2.0", "LAN Manager for MS-DOS 2.0 clients."},
      {L"OS/2 LM 1.0", "LAN Manager for MS-OS/2 1.0 clients."},
      {L"os/2 Lm 2.0", "LAN Manager for MS-OS/2 2.0 clients."},
      {L"Windows 10 Enterprise 19045", ""},
      {L"DOS LM 1.0 ", ""},
      {L"", ""},
  };
  for (const auto& [name, text] : clients)
    EXPECT_EQ(ClientTypeText(name), text) << std::string(name.begin(), name.end());

  const char* names[] = {"NO ACCESS",         "READ", "WRITE", "READ,WRITE", "CREATE", "READ,CREATE", "WRITE,CREATE",
                         "READ,WRITE,CREATE", "",     ""};
  const uint32_t values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 0x23};
  for (size_t i = 0; i < 10; ++i) EXPECT_STREQ(FilePermissionText(values[i]), names[i]) << values[i];
}

TEST(SharingTexts, AccessKindFromModeAndMask) {
  struct Row {
    ACCESS_MODE mode;
    DWORD mask;
    AccessKind kind;
  };
  const Row table[] = {
      {GRANT_ACCESS, 0x1F01FF, kFullGranted},
      {GRANT_ACCESS, 0x1301BF, kChangeGranted},
      {GRANT_ACCESS, DELETE, kChangeGranted},
      {GRANT_ACCESS, DELETE | WRITE_DAC, kChangeGranted},
      {GRANT_ACCESS, 0x1200A9, kReadGranted},
      {GRANT_ACCESS, READ_CONTROL | WRITE_DAC, kReadGranted},
      {GRANT_ACCESS, 0, kReadGranted},
      {DENY_ACCESS, DELETE | READ_CONTROL | WRITE_DAC, kFullDenied},
      {DENY_ACCESS, DELETE | READ_CONTROL, kChangeDenied},
      {DENY_ACCESS, READ_CONTROL, kReadDenied},
      {SET_ACCESS, 0x1F01FF, kOtherAccess},
      {REVOKE_ACCESS, 0x1F01FF, kOtherAccess},
      {SET_AUDIT_SUCCESS, 0x1F01FF, kOtherAccess},
  };
  for (const Row& row : table) {
    EXPECT_EQ(AccessKindOf(row.mode, row.mask), row.kind) << "mode " << row.mode << " mask " << std::hex << row.mask;
  }
}

TEST(SharingRows, MemberFlagsPerKindAndTheDashForNoName) {
  const char* keys[] = {"ACCESS_FULL", "ACCESS_CHANGE", "ACCESS_READ", "DENY_FULL", "DENY_CHANGE", "DENY_READ"};
  const std::vector<std::pair<AccessKind, std::string>> table = {
      {kFullGranted, "111000"},  {kChangeGranted, "011000"}, {kReadGranted, "001000"}, {kFullDenied, "000111"},
      {kChangeDenied, "000011"}, {kReadDenied, "000001"},    {kOtherAccess, "000000"},
  };
  for (const auto& [kind, flags] : table) {
    ShareMember member;
    member.accessKind = kind;
    const Json::Value row = MemberRow("Docs", member);
    std::string seen;
    for (const char* key : keys) seen += row[key].asString();
    EXPECT_EQ(seen, flags) << "kind " << kind;
    EXPECT_EQ(row["USER_NAME"], "-");
    EXPECT_EQ(row["SHARE_NAME"], "Docs");
    EXPECT_EQ(row.size(), 8u);
  }
  ShareMember named;
  wcscpy(named.accountName, L"J\u00fcrgen");
  EXPECT_EQ(MemberRow("Docs", named)["USER_NAME"], "J\xC3\xBCrgen");
}

TEST(SharingRows, SessionAndFileRowsCarryUtf8AndUnsignedText) {
  wchar_t user[] = L"Zo\u00eb", client[] = L"OS/2 LM 2.0", transport[] = L"\\Device\\N\u00e9tbios";
  SESSION_INFO_502 session{};
  session.sesi502_username = user;
  session.sesi502_num_opens = 3;
  session.sesi502_time = 0xFFFFFFFFu;
  session.sesi502_idle_time = 60;
  session.sesi502_user_flags = SESS_NOENCRYPTION;
  session.sesi502_cltype_name = client;
  session.sesi502_transport = transport;
  const Json::Value row = SessionRow(session, "frontdesk");
  EXPECT_EQ(row["SESSION_COMPUTER_NAME"], "frontdesk");
  EXPECT_EQ(row["SESSION_USER_NAME"], "Zo\xC3\xAB");
  EXPECT_EQ(row["SESSION_NUM_OPENS"], "3");
  EXPECT_EQ(row["SESSION_ACTIVE_TIME"], "4294967295");
  EXPECT_EQ(row["SESSION_IDLE_TIME"], "60");
  EXPECT_EQ(row["SESSION_CLIENT_TYPE_NAME"], "LAN Manager for MS-OS/2 2.0 clients.");
  EXPECT_EQ(row["SESSION_TRANSPORT_NAME"], "\\Device\\N\xC3\xA9tbios");
  EXPECT_EQ(row.size(), 8u);

  // Null texts from Windows read as empty.
  EXPECT_EQ(SessionRow(SESSION_INFO_502{}, "")["SESSION_TRANSPORT_NAME"], "");
  FILE_INFO_3 file{};
  file.fi3_id = 0x80000001u;
  file.fi3_permissions = 3;
  const Json::Value fileRow = OpenFileRow(file);
  EXPECT_EQ(fileRow["FILE_INFO_ID"], "2147483649");
  EXPECT_EQ(fileRow["FILE_INFO_PERMISSION"], "READ,WRITE");
  EXPECT_EQ(fileRow["FILE_INFO_PATH_NAME"], "");
}

TEST(SharingRequests, TextsReadAsNumbers) {
  const std::vector<std::pair<std::string, uint32_t>> maxUses = {
      {"-1", 0xFFFFFFFFu},          {"10", 10}, {"abc", 0}, {"", 0}, {" 7users", 7}, {"-5", 0xFFFFFFFBu},
      {"99999999999", 0x7FFFFFFFu},
  };
  for (const auto& [text, value] : maxUses) EXPECT_EQ(MaxUsesFromText(text), value) << text;
  const std::vector<std::pair<std::string, uint32_t>> ids = {
      {"42", 42}, {"4294967295", 0xFFFFFFFFu}, {"4294967296", 0xFFFFFFFFu}, {"abc", 0}, {"-3", 0}, {"", 0},
  };
  for (const auto& [text, value] : ids) EXPECT_EQ(FileIdFromText(text), value) << text;

  Json::Value request;
  request["name"] = "Docs";
  request["limit"] = 25;
  request["list"] = Json::Value(Json::arrayValue);
  EXPECT_EQ(RequestText(request, "name"), "Docs");
  EXPECT_EQ(RequestText(request, "limit"), "25");
  EXPECT_EQ(RequestText(request, "list"), "");
  EXPECT_EQ(RequestText(request, "absent"), "");
  EXPECT_EQ(RequestText(Json::Value("text"), "name"), "");

  for (const char* name : {"All_Shares", "all_shares", "ALL_SHARES", "aLL_sHARES"})
    EXPECT_TRUE(IsAllShares(name)) << name;
  for (const char* name : {"All_Share", "All Shares", "", "All_Shares "}) EXPECT_FALSE(IsAllShares(name)) << name;
}

TEST(SharingAnswers, SharesAnswerKeepsThreeMembers) {
  Json::Value failed;
  failed["Status"] = "Failed";
  failed["Remarks"] = "The request is not supported.";
  failed["Shares"] = Json::Value();
  for (const Json::Value& listing : {Json::Value(), failed}) {
    const Json::Value answer = SharesAnswer(listing);
    EXPECT_EQ(answer.getMemberNames(), (std::vector<std::string>{"Shares", "isSharesExceeded", "shareCount"}));
    EXPECT_EQ(answer["Shares"], "no_Shares_found");
    EXPECT_EQ(answer["isSharesExceeded"], false);
    EXPECT_EQ(answer["shareCount"], "");
  }
  Json::Value accounts;
  MarkMissingAccounts(accounts);
  EXPECT_EQ(accounts["Accounts"], "no_Accounts_found");
  accounts["Accounts"] = Json::Value(Json::arrayValue);
  MarkMissingAccounts(accounts);
  EXPECT_EQ(accounts["Accounts"], "no_Accounts_found");
}

TEST(SharingAnswers, ComErrorTexts) {
  const std::string system = ComErrorText(ERROR_NOT_SUPPORTED);
  EXPECT_FALSE(system.empty());
  EXPECT_NE(system.back(), '\n');
  EXPECT_EQ(system.find("Unknown error"), std::string::npos) << system;
  EXPECT_EQ(ComErrorText(0x8004FF05u), "IDispatch error #64773");
  EXPECT_EQ(ComErrorText(0x7654ABCDu), "Unknown error 0x7654ABCD");
}

}  // namespace
