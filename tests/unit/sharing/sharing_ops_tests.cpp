// The share, session and open-file operations on the fake NetApi and share
// ACLs; account names, host names and system texts come from Wine for real.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/text.h"
#include "sharing/fake_sharing_api.h"
#include "support/log_capture.h"
#include "tools/sharing/guarded_call.h"
#include "tools/sharing/sharing.h"

namespace {

using hk::test::FakeAce;
using hk::test::FakeFile;
using hk::test::FakeSession;
using hk::test::FakeShare;
using hk::test::kShareChange;
using hk::test::kShareFull;
using hk::test::kShareRead;
namespace sharing = hk::sharing;

FakeShare Share(const std::wstring& name) {
  FakeShare share;
  share.name = name;
  return share;
}

std::vector<FakeShare> NumberedShares(int count) {
  std::vector<FakeShare> shares;
  for (int i = 0; i < count; ++i) shares.push_back(Share(L"share" + std::to_wstring(i)));
  return shares;
}

class SharingOps : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(log_.ready()); }
  void TearDown() override {
    EXPECT_EQ(fake_.LiveBuffers(), 0u) << "NetApi buffers left unfreed";
    EXPECT_EQ(fake_.ForeignFrees(), 0) << "frees of buffers the calls never gave";
  }
  Json::Value Shares() {
    Json::Value data;
    sharing::ListShares(data);
    return data;
  }
  // The one row of a listing of the given shares.
  Json::Value OnlyRow(const FakeShare& share) {
    fake_.shares = {share};
    const Json::Value data = Shares();
    EXPECT_EQ(data["Shares"].size(), 1u) << data.toStyledString();
    return data["Shares"][0];
  }

  hk::test::LogCapture log_;
  hk::test::FakeSharingApi fake_;
};

TEST_F(SharingOps, ShareListsAreCountedWholeAndCutAtAHundredRows) {
  struct Row {
    int shares;
    DWORD pageSize;
    const char* count;
    bool exceeded;
    Json::ArrayIndex rows;
  };
  const Row table[] = {
      {150, 0, "150", true, 100}, {100, 0, "100", false, 100}, {101, 0, "101", true, 100},
      {1, 0, "1", false, 1},      {150, 7, "150", true, 100},  // read over 22 calls
  };
  for (const Row& row : table) {
    const std::string name = std::to_string(row.shares) + " shares, pages of " + std::to_string(row.pageSize);
    fake_.shares = NumberedShares(row.shares);
    fake_.pageSize = row.pageSize;
    fake_.enumerationCalls = 0;
    const Json::Value data = Shares();
    EXPECT_EQ(data["shareCount"], row.count) << name;
    EXPECT_EQ(data["isSharesExceeded"], row.exceeded) << name;
    ASSERT_EQ(data["Shares"].size(), row.rows) << name;
    EXPECT_EQ(data["Shares"][row.rows - 1]["SHARE_NAME"], "share" + std::to_string(row.rows - 1)) << name;
    EXPECT_FALSE(data.isMember("Status")) << name;
    EXPECT_EQ(fake_.enumerationCalls, row.pageSize ? (row.shares + 6) / 7 : 1) << name;
    EXPECT_EQ(fake_.LiveBuffers(), 0u) << name;
  }
}

TEST_F(SharingOps, ShareRowsTellTypeLimitAndPermissionAsUnsignedValues) {
  FakeShare admin = Share(L"C$");
  admin.type = 0x80000000u;
  admin.remark = L"Default share";
  admin.permissions = ACCESS_READ | ACCESS_WRITE;
  admin.maxUses = SHI_USES_UNLIMITED;
  admin.currentUses = 2;
  admin.path = L"C:\\";
  admin.descriptor = FakeShare::Descriptor::kNone;
  Json::Value expected(Json::objectValue);
  expected["SHARE_NAME"] = "C$";
  expected["SHARE_TYPE"] = "Special Share";
  expected["SHARE_DESCRIPTION"] = "Default share";
  expected["SHARE_PERMISSION"] = "";
  expected["SHARE_MAX_USES"] = "Maximum Allowed";
  expected["SHARE_CURR_USES"] = "2";
  expected["SHARE_PATH"] = "C:\\";
  expected["SHARE_MEMBERS"] = Json::Value();
  EXPECT_EQ(OnlyRow(admin), expected);

  FakeShare ipc = Share(L"IPC$");
  ipc.type = 0x80000003u;
  ipc.permissions = ACCESS_ALL;
  ipc.maxUses = 10;
  const Json::Value ipcRow = OnlyRow(ipc);
  EXPECT_EQ(ipcRow["SHARE_TYPE"], "");
  EXPECT_EQ(ipcRow["SHARE_MAX_USES"], "10");
  EXPECT_EQ(ipcRow["SHARE_PERMISSION"].asString().substr(0, 24), "Permission to read, writ");

  const Json::Value books = OnlyRow(Share(L"B\u00fccher \u6587\u66f8"));
  EXPECT_EQ(books["SHARE_NAME"],
            "B\xC3\xBC"
            "cher \xE6\x96\x87\xE6\x9B\xB8");
}

TEST_F(SharingOps, MembersCarryAccountNamesAndTheSixFlagsOfEachEntry) {
  wchar_t user[256];
  DWORD userLength = 256;
  ASSERT_TRUE(::GetUserNameW(user, &userLength));
  FakeShare docs = Share(L"Docs");
  docs.aces = {
      {true, kShareFull, L"S-1-1-0"},         // Everyone
      {true, kShareChange, L"S-1-5-32-544"},  // Administrators
      {true, kShareRead, hk::test::FakeSharingApi::CurrentUserSid()},
      {false, kShareFull, L"S-1-5-32-546"},                  // Guests
      {false, kShareChange, L"S-1-5-32-545"},                // Users
      {false, kShareRead, L"S-1-5-21-1111-2222-3333-4444"},  // nobody this machine knows
  };
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Everyone", "111000"}, {"Administrators", "011000"}, {hk::ToUtf8(user), "001000"},
      {"Guests", "000111"},   {"Users", "000011"},          {"-", "000001"},
  };
  const Json::Value members = OnlyRow(docs)["SHARE_MEMBERS"];
  ASSERT_EQ(members.size(), expected.size()) << members.toStyledString();
  for (Json::ArrayIndex i = 0; i < members.size(); ++i) {
    const Json::Value& row = members[i];
    std::string flags;
    for (const char* key : {"ACCESS_FULL", "ACCESS_CHANGE", "ACCESS_READ", "DENY_FULL", "DENY_CHANGE", "DENY_READ"}) {
      flags += row[key].asString();
    }
    EXPECT_EQ(row["USER_NAME"], expected[i].first) << "entry " << i;
    EXPECT_EQ(flags, expected[i].second) << "entry " << i;
    EXPECT_EQ(row["SHARE_NAME"], "Docs") << "entry " << i;
  }
  // Counted by the share's name, read by its local object name.
  EXPECT_EQ(fake_.securityNames, (std::vector<std::wstring>{L"Docs", L"\\\\.\\Docs"}));
}

TEST_F(SharingOps, AnUnreadableAclLeavesTheMembersNullAndTheOtherSharesListed) {
  struct Row {
    const char* name;
    FakeShare::Descriptor descriptor;
    DWORD securityFailure;
    DWORD entriesFailure;
    std::vector<std::string> lines;
  };
  const Row table[] = {
      {"invalid descriptor",
       FakeShare::Descriptor::kInvalid,
       0,
       0,
       {"Display ErrorStatus - 1", "Noof User == 0", "Clean GetSharePermission - pEa"}},
      {"no descriptor", FakeShare::Descriptor::kNone, 0, 0, {"Display ErrorStatus - 1", "Noof User == 0"}},
      {"descriptor refused",
       FakeShare::Descriptor::kValid,
       ERROR_ACCESS_DENIED,
       0,
       {"Display ErrorStatus - 5", "Error status GetSharePermission", "GetSharePermission func failed..."}},
      {"entries refused",
       FakeShare::Descriptor::kValid,
       0,
       ERROR_INVALID_ACL,
       {"Display ErrorStatus - 1336", "GetExplicitEntriesFromAcl Error Status - 1336",
        "GetSharePermission func failed..."}},
  };
  for (const Row& row : table) {
    hk::test::LogCapture log;
    FakeShare broken = Share(L"Broken");
    broken.descriptor = row.descriptor;
    broken.securityFailure = row.securityFailure;
    broken.entriesFailure = row.entriesFailure;
    broken.aces = {{true, kShareFull, L"S-1-1-0"}};
    FakeShare fine = Share(L"Fine");
    fine.aces = broken.aces;
    fake_.shares = {broken, fine};
    const Json::Value data = Shares();
    ASSERT_EQ(data["Shares"].size(), 2u) << row.name;
    EXPECT_TRUE(data["Shares"][0]["SHARE_MEMBERS"].isNull()) << row.name;
    EXPECT_EQ(data["Shares"][1]["SHARE_MEMBERS"].size(), 1u) << row.name;
    for (const std::string& line : row.lines)
      EXPECT_TRUE(log.logged(line)) << row.name << ": " << line << "\n" << log.text();
  }
}

TEST_F(SharingOps, EnumerationFailuresAreAnsweredAsData) {
  fake_.shareEnumFailure = ERROR_NOT_SUPPORTED;
  fake_.sessionEnumFailure = ERROR_ACCESS_DENIED;
  fake_.fileEnumFailure = ERROR_NOT_SUPPORTED;
  Json::Value shares, sessions, files;
  sharing::ListShares(shares);
  sharing::ListSessions(sessions);
  sharing::ListOpenFiles(files);
  const struct {
    const Json::Value& data;
    DWORD code;
    const char* list;
  } table[] = {{shares, ERROR_NOT_SUPPORTED, "Shares"},
               {sessions, ERROR_ACCESS_DENIED, "Sessions"},
               {files, ERROR_NOT_SUPPORTED, "OpenFiles"}};
  for (const auto& row : table) {
    std::vector<std::string> keys{row.list, "Remarks", "Status"};
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(row.data.getMemberNames(), keys) << row.list;
    EXPECT_EQ(row.data["Status"], "Failed") << row.list;
    EXPECT_EQ(row.data["Remarks"], sharing::SystemErrorText(row.code)) << row.list;
    EXPECT_NE(row.data["Remarks"].asString().find(' '), std::string::npos) << row.list;
    EXPECT_TRUE(row.data[row.list].isNull()) << row.list;
  }
}

TEST_F(SharingOps, SetShareInfoPassesTheLimitAsItsUnsignedValue) {
  fake_.shares = {Share(L"Docs")};
  const std::vector<std::pair<Json::Value, DWORD>> table = {
      {"-1", 0xFFFFFFFFu}, {"10", 10}, {"abc", 0}, {25, 25}, {Json::Value(), 0}};
  for (const auto& [limit, passed] : table) {
    fake_.setInfoCalls.clear();
    Json::Value request, data;
    request["SHARE_NAME"] = "Docs";
    request["MAX_USES"] = limit;
    sharing::SetShareInfo(request, data);
    ASSERT_EQ(fake_.setInfoCalls.size(), 1u) << limit;
    EXPECT_EQ(fake_.setInfoCalls[0].name, L"Docs");
    EXPECT_EQ(fake_.setInfoCalls[0].level, 1006u);
    EXPECT_EQ(fake_.setInfoCalls[0].maxUses, passed) << limit;
    EXPECT_EQ(data["Status"], "SUCCESS") << limit;
    EXPECT_EQ(data["Remarks"], "Successfully set this share Info");
  }
  Json::Value request, data;
  request["SHARE_NAME"] = "Nope";
  request["MAX_USES"] = "3";
  sharing::SetShareInfo(request, data);
  EXPECT_EQ(data["Status"], "Failed");
  EXPECT_EQ(data["Remarks"], sharing::SystemErrorText(NERR_NetNameNotFound));
}

TEST_F(SharingOps, DeleteShareTakesUtf8NamesAndExplainsFailuresByTheLastError) {
  fake_.shares = {Share(L"B\u00fccher")};
  Json::Value request, data;
  request["SHARE_NAME"] =
      "B\xC3\xBC"
      "cher";
  sharing::DeleteShare(request, data);
  EXPECT_EQ(fake_.deletedShares, std::vector<std::wstring>{L"B\u00fccher"});
  EXPECT_EQ(data["Status"], "Success");
  EXPECT_EQ(data["Remarks"], "Successfully delete this Share");

  fake_.shareDelResult = ERROR_ACCESS_DENIED;
  sharing::DeleteShare(request, data);
  EXPECT_EQ(data["Status"], "Failed");
  EXPECT_EQ(data["Remarks"], sharing::ComErrorText(ERROR_ACCESS_DENIED));
  EXPECT_NE(data["Remarks"], sharing::ComErrorText(0));
}

TEST_F(SharingOps, SessionListsCountWholeAndCutAtAHundredRows) {
  const struct {
    int sessions;
    const char* count;
    bool exceeded;
    Json::ArrayIndex rows;
  } table[] = {{101, "101", true, 100}, {100, "100", false, 100}, {0, "0", false, 0}};
  for (const auto& row : table) {
    fake_.sessions.assign(row.sessions, FakeSession{.client = L"127.0.0.1"});
    Json::Value data;
    sharing::ListSessions(data);
    EXPECT_EQ(data["sessionCount"], row.count) << row.sessions;
    EXPECT_EQ(data["isSessionExceeded"], row.exceeded) << row.sessions;
    EXPECT_EQ(data["Sessions"].size(), row.rows) << row.sessions;
    EXPECT_EQ(data["Sessions"].isNull(), row.rows == 0) << row.sessions;
    EXPECT_EQ(data.size(), 3u) << row.sessions;
  }
}

TEST_F(SharingOps, SessionRowsFromTheEnumeration) {
  fake_.sessions = {
      {L"127.0.0.1", L"guest", 1, 30, 5, SESS_GUEST, L"DOS LM 2.0", L"\\Device\\NetBT_Tcpip_{4D36}"},
      {L"FRONTDESK-PC", L"J\u00fcrgen", 0, 0, 0, 0, L"Windows 10 Enterprise 19045", L"\\Device\\N\u00e9tbios"},
  };
  Json::Value data;
  sharing::ListSessions(data);
  ASSERT_EQ(data["Sessions"].size(), 2u);
  const Json::Value& guest = data["Sessions"][0];
  const Json::Value& modern = data["Sessions"][1];
  // The loopback address has a name here; a computer name is no address.
  EXPECT_NE(guest["SESSION_COMPUTER_NAME"], "127.0.0.1");
  EXPECT_FALSE(guest["SESSION_COMPUTER_NAME"].asString().empty());
  EXPECT_TRUE(log_.contains("getnameinfo returned hostname = " + guest["SESSION_COMPUTER_NAME"].asString()))
      << log_.text();
  EXPECT_EQ(modern["SESSION_COMPUTER_NAME"], "FRONTDESK-PC");
  EXPECT_TRUE(log_.contains("getnameinfo failed with error # ")) << log_.text();
  EXPECT_EQ(guest["SESSION_USER_FLAGS"],
            "The user specified by the sesi502_username member established the session using a guest account.");
  EXPECT_EQ(modern["SESSION_USER_FLAGS"], "");
  EXPECT_EQ(guest["SESSION_CLIENT_TYPE_NAME"], "LAN Manager for MS-DOS 2.0 clients.");
  EXPECT_EQ(modern["SESSION_CLIENT_TYPE_NAME"], "");
  EXPECT_EQ(guest["SESSION_ACTIVE_TIME"], "30");
  EXPECT_EQ(guest["SESSION_IDLE_TIME"], "5");
  EXPECT_EQ(guest["SESSION_NUM_OPENS"], "1");
  EXPECT_EQ(modern["SESSION_USER_NAME"], "J\xC3\xBCrgen");
  EXPECT_EQ(modern["SESSION_TRANSPORT_NAME"], "\\Device\\N\xC3\xA9tbios");
}

TEST_F(SharingOps, DeleteSessionPassesBothNames) {
  Json::Value request, data;
  request["UNC_CLIENT_NAME"] = "\\\\10.0.0.7";
  request["USER_NAME"] = "J\xC3\xBCrgen";
  sharing::DeleteSession(request, data);
  ASSERT_EQ(fake_.deletedSessions.size(), 1u);
  EXPECT_EQ(fake_.deletedSessions[0].first, L"\\\\10.0.0.7");
  EXPECT_EQ(fake_.deletedSessions[0].second, L"J\u00fcrgen");
  EXPECT_EQ(data["Status"], "Success");
  EXPECT_EQ(data["Remarks"], "Successfully delete this Session");

  fake_.sessionDelResult = NERR_ClientNameNotFound;
  sharing::DeleteSession(request, data);
  EXPECT_EQ(data["Status"], "Failed");
  EXPECT_EQ(data["Remarks"], sharing::SystemErrorText(NERR_ClientNameNotFound));
}

TEST_F(SharingOps, OpenFileListsCountWholeAndCutAtAHundredRows) {
  for (DWORD pageSize : {0u, 9u}) {
    fake_.files.clear();
    for (DWORD id = 1; id <= 101; ++id) fake_.files.push_back(FakeFile{.id = id, .permissions = id % 10});
    fake_.pageSize = pageSize;
    Json::Value data;
    sharing::ListOpenFiles(data);
    EXPECT_EQ(data["fileCount"], "101") << pageSize;
    EXPECT_EQ(data["isfileCountExceeded"], true) << pageSize;
    ASSERT_EQ(data["OpenFiles"].size(), 100u) << pageSize;
    EXPECT_EQ(data["OpenFiles"][2]["FILE_INFO_PERMISSION"], "READ,WRITE");  // id 3
    EXPECT_EQ(data["OpenFiles"][8]["FILE_INFO_PERMISSION"], "");            // id 9
    EXPECT_EQ(data["OpenFiles"][99]["FILE_INFO_ID"], "100");
  }
  fake_.files.clear();
  Json::Value none;
  sharing::ListOpenFiles(none);
  EXPECT_EQ(none["fileCount"], "0");
  EXPECT_EQ(none["isfileCountExceeded"], false);
  EXPECT_TRUE(none["OpenFiles"].isNull());
}

TEST_F(SharingOps, CloseFileTakesTheIdTextAndReportsAnUnknownId) {
  fake_.files = {FakeFile{.id = 4000000000u}};
  Json::Value request, data;
  request["FILE_INFO_ID"] = "4000000000";
  sharing::CloseFile(request, data);
  EXPECT_EQ(fake_.closedFiles, std::vector<DWORD>{4000000000u});
  EXPECT_EQ(data["Status"], "Success");
  EXPECT_EQ(data["Remarks"], "File Closed Successfully");

  sharing::CloseFile(request, data);  // no longer open
  EXPECT_EQ(data["Status"], "Failed");
  EXPECT_EQ(data["Remarks"], sharing::SystemErrorText(NERR_FileIdNotFound));
}

TEST_F(SharingOps, FunctionsTheSystemLacksAreAnsweredAsNotImplemented) {
  fake_.unimplemented = {L"NetShareEnum", L"NetShareSetInfo", L"NetShareDel", L"NetSessionDel", L"NetFileClose"};
  fake_.shares = {Share(L"Docs")};
  Json::Value request;
  request["SHARE_NAME"] = "Docs";
  request["MAX_USES"] = "3";
  request["FILE_INFO_ID"] = "1";
  const struct {
    const char* function;
    void (*run)(const Json::Value&, Json::Value&);
  } table[] = {
      {"NetShareSetInfo", sharing::SetShareInfo},
      {"NetShareDel", sharing::DeleteShare},
      {"NetSessionDel", sharing::DeleteSession},
      {"NetFileClose", sharing::CloseFile},
  };
  const std::string notImplemented = sharing::SystemErrorText(ERROR_CALL_NOT_IMPLEMENTED);
  for (const auto& row : table) {
    Json::Value data;
    row.run(request, data);
    EXPECT_EQ(data["Status"], "Failed") << row.function;
    EXPECT_EQ(data["Remarks"],
              row.run == sharing::DeleteShare ? sharing::ComErrorText(ERROR_CALL_NOT_IMPLEMENTED) : notImplemented)
        << row.function;
    EXPECT_TRUE(log_.logged(std::string(row.function) + " is not implemented on this system")) << row.function;
  }
  Json::Value shares;
  sharing::ListShares(shares);
  EXPECT_EQ(shares["Remarks"], notImplemented);
  EXPECT_TRUE(fake_.setInfoCalls.empty() && fake_.deletedShares.empty() && fake_.closedFiles.empty());
}

#if defined(__i386__)
EXCEPTION_DISPOSITION NTAPI PassOn(EXCEPTION_RECORD*, void*, CONTEXT*, void*) { return ExceptionContinueSearch; }
#endif

TEST(GuardedCall, AnAbandonedCallLeavesTheThreadsHandlersWorking) {
  const auto unimplemented = [](void*) -> DWORD {
    hk::test::RaiseUnimplemented("netapi32.dll", "NetShareSetInfo");
    return 7;
  };
  const auto fine = [](void*) -> DWORD {
    ::SetLastError(1234);
    return 7;
  };
  // One guarded call inside another: the inner one takes the exception.
  const auto nested = [](void* inner) -> DWORD {
    bool raised = false;
    const DWORD result = sharing::CallGuarded(*static_cast<DWORD (**)(void*)>(inner), nullptr, &raised);
    return raised ? 100 + result : result;
  };
#if defined(__i386__)
  // A call that registered a frame-based handler of its own before raising:
  // that frame dies with the call and must not stay on the thread's chain.
  const auto framed = [](void*) -> DWORD {
    EXCEPTION_REGISTRATION_RECORD record;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(record.Next));
    record.Handler = PassOn;
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(&record) : "memory");
    hk::test::RaiseUnimplemented("netapi32.dll", "NetFileClose");
    return 7;
  };
  const auto chainHead = [] {
    EXCEPTION_REGISTRATION_RECORD* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
  };
  EXCEPTION_REGISTRATION_RECORD* const before = chainHead();
  bool framedRaised = false;
  EXPECT_EQ(sharing::CallGuarded(framed, nullptr, &framedRaised), 0u);
  EXPECT_TRUE(framedRaised);
  EXPECT_EQ(chainHead(), before);
#endif
  DWORD (*inner)(void*) = unimplemented;
  for (int round = 0; round < 3; ++round) {
    bool raised = false;
    EXPECT_EQ(sharing::CallGuarded(unimplemented, nullptr, &raised), 0u) << round;
    EXPECT_TRUE(raised) << round;
    EXPECT_EQ(sharing::CallGuarded(fine, nullptr, &raised), 7u) << round;
    EXPECT_FALSE(raised) << round;
    EXPECT_EQ(::GetLastError(), 1234u) << round;
    EXPECT_EQ(sharing::CallGuarded(nested, &inner, &raised), 100u) << round;
    EXPECT_FALSE(raised) << round;
  }
  // The system's own frame-based handlers still catch their faults, and C++
  // exceptions still unwind.
  EXPECT_TRUE(::IsBadReadPtr(nullptr, 4));
  EXPECT_THROW(throw std::runtime_error("still unwinds"), std::runtime_error);
}

}  // namespace
