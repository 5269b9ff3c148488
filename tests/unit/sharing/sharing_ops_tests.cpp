// Tool 8's operations and dispatcher on the fake NetApi, share ACLs and WMI;
// account names, host names, system texts and exceptions are Wine's own.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/messages.h"
#include "sharing/fake_sharing_api.h"
#include "support/fake_wmi.h"
#include "support/recording_socket.h"
#include "tools/sharing/guarded_call.h"
#include "tools/sharing/sharing.h"
#include "wmi/wmi_test_support.h"

namespace {

using hk::test::FakeShare;
namespace sharing = hk::sharing;

FakeShare Share(const std::wstring& name) {
  FakeShare share;
  share.name = name;
  share.aces = {{true, hk::test::kShareFull, L"S-1-1-0"}};
  return share;
}

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
  return value;
}

std::string Flags(const Json::Value& member) {
  std::string flags;
  for (const char* key : {"ACCESS_FULL", "ACCESS_CHANGE", "ACCESS_READ", "DENY_FULL", "DENY_CHANGE", "DENY_READ"}) {
    flags += member[key].asString();
  }
  return flags;
}

class Sharing : public hk::test::WmiLogTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(fake_.LiveBuffers(), 0u) << "NetApi buffers left unfreed";
    WmiLogTest::TearDown();
  }
  // The dispatcher on a COM thread of its own; the response's data.
  Json::Value Dispatch(int code, const Json::Value& request = Json::Value(Json::objectValue)) {
    Json::Value data = request, response;
    char* text = nullptr;
    int result = -1;
    hk::test::RunOnComThread([&] { result = HandleShareRequest(code, &data, &response, &text); });
    EXPECT_EQ(result, 1) << code;
    if (!text) return Json::Value("no text");
    const Json::Value answer = Parse(text);
    hk::FreeText(text);
    EXPECT_EQ(answer["toolId"], 8) << code;
    EXPECT_EQ(answer["responseId"], 0) << code;
    EXPECT_EQ(answer["responseCode"], code + 300) << code;
    return answer["responseData"];
  }

  hk::test::FakeSharingApi fake_;
  std::optional<hk::test::FakeWmi> wmi_{std::in_place};
};

TEST_F(Sharing, ListsAreCountedWholeAndCutAtAHundredRows) {
  struct Row {
    int entries;
    DWORD pageSize;
    const char* count;
    bool exceeded;
  };
  for (const Row& row : {Row{150, 0, "150", true}, Row{100, 0, "100", false}, Row{101, 7, "101", true}}) {
    const std::string name = std::to_string(row.entries) + " entries, pages of " + std::to_string(row.pageSize);
    fake_.shares.clear();
    for (int i = 0; i < row.entries; ++i) fake_.shares.push_back(Share(L"share" + std::to_wstring(i)));
    fake_.sessions.assign(row.entries, hk::test::FakeSession());
    fake_.files.assign(row.entries, hk::test::FakeFile());
    fake_.pageSize = row.pageSize;
    Json::Value shares, sessions, files;
    sharing::ListShares(shares);
    sharing::ListSessions(sessions);
    sharing::ListOpenFiles(files);
    for (const auto& [data, keys] : {std::pair{&shares, "shareCount isSharesExceeded Shares"},
                                     std::pair{&sessions, "sessionCount isSessionExceeded Sessions"},
                                     std::pair{&files, "fileCount isfileCountExceeded OpenFiles"}}) {
      std::istringstream words(keys);
      std::string count, exceeded, list;
      words >> count >> exceeded >> list;
      EXPECT_EQ((*data)[count], row.count) << name << " " << list;
      EXPECT_EQ((*data)[exceeded], row.exceeded) << name << " " << list;
      EXPECT_EQ((*data)[list].size(), 100u) << name << " " << list;
      EXPECT_EQ(data->size(), 3u) << name << " " << list;
    }
    EXPECT_EQ(shares["Shares"][99]["SHARE_NAME"], "share99") << name;
  }
}

TEST_F(Sharing, ShareRowsReadTypeAndLimitAsUnsignedValues) {
  FakeShare admin = Share(L"C$"), ipc = Share(L"IPC$"), books = Share(L"B\u00fccher");
  admin.type = 0x80000000u;
  admin.permissions = ACCESS_READ | ACCESS_WRITE;
  admin.descriptor = FakeShare::Descriptor::kNone;
  admin.currentUses = 2;
  ipc.type = 0x80000003u;
  ipc.maxUses = 10;
  fake_.shares = {admin, ipc, books};
  Json::Value data;
  sharing::ListShares(data);
  EXPECT_EQ(data["Shares"][0], Parse(R"({"SHARE_NAME":"C$","SHARE_TYPE":"Special Share","SHARE_DESCRIPTION":"",
      "SHARE_PERMISSION":"","SHARE_MAX_USES":"Maximum Allowed","SHARE_CURR_USES":"2","SHARE_PATH":"C:\\Shared",
      "SHARE_MEMBERS":null})"));
  EXPECT_EQ(data["Shares"][1]["SHARE_TYPE"], "");
  EXPECT_EQ(data["Shares"][1]["SHARE_MAX_USES"], "10");
  EXPECT_EQ(data["Shares"][2]["SHARE_NAME"], "B\303\274cher");
  EXPECT_EQ(data["Shares"][2]["SHARE_MEMBERS"][0]["SHARE_NAME"], "B\303\274cher");
}

TEST_F(Sharing, MembersCarryTheAccountNameAndTheFlagsOfEachEntry) {
  wchar_t user[256];
  DWORD userLength = 256;
  ASSERT_TRUE(::GetUserNameW(user, &userLength));
  FakeShare docs = Share(L"Docs");
  docs.aces = {{true, hk::test::kShareFull, L"S-1-1-0"},
               {true, hk::test::kShareChange, L"S-1-5-32-544"},
               {true, hk::test::kShareRead, hk::test::FakeSharingApi::CurrentUserSid()},
               {false, hk::test::kShareFull, L"S-1-5-32-546"},
               {false, hk::test::kShareChange, L"S-1-5-32-545"},
               {false, hk::test::kShareRead, L"S-1-5-21-1111-2222-3333-4444"}};  // nobody here knows it
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Everyone", "111000"}, {"Administrators", "011000"}, {sharing::Utf8(user), "001000"},
      {"Guests", "000111"},   {"Users", "000011"},          {"-", "000001"}};
  fake_.shares = {docs};
  Json::Value data;
  sharing::ListShares(data);
  const Json::Value& members = data["Shares"][0]["SHARE_MEMBERS"];
  ASSERT_EQ(members.size(), expected.size()) << members;
  for (Json::ArrayIndex i = 0; i < members.size(); ++i) {
    EXPECT_EQ(members[i]["USER_NAME"], expected[i].first) << "entry " << i;
    EXPECT_EQ(Flags(members[i]), expected[i].second) << "entry " << i;
  }
  EXPECT_EQ(Count("Clean GetSharePermission - s"), 5) << Log();  // one per name found
  EXPECT_EQ(fake_.securityNames, (std::vector<std::wstring>{L"Docs", L"\\\\.\\Docs"}));
}

TEST_F(Sharing, AnUnreadableAclLeavesOnlyItsShareWithoutMembers) {
  struct Row {
    FakeShare::Descriptor descriptor;
    DWORD securityFailure, entriesFailure;
    const char *line, *failed;  // logged for it
  };
  const Row table[] = {
      {FakeShare::Descriptor::kInvalid, 0, 0, "Display ErrorStatus - 1", "Clean GetSharePermission - pEa"},
      {FakeShare::Descriptor::kValid, ERROR_ACCESS_DENIED, 0, "Display ErrorStatus - 5",
       "Error status GetSharePermission"},
      {FakeShare::Descriptor::kValid, 0, ERROR_INVALID_ACL, "GetExplicitEntriesFromAcl Error Status - 1336",
       "GetSharePermission func failed..."},
  };
  for (const Row& row : table) {
    log_.emplace();
    FakeShare broken = Share(L"Broken");
    broken.descriptor = row.descriptor;
    broken.securityFailure = row.securityFailure;
    broken.entriesFailure = row.entriesFailure;
    fake_.shares = {broken, Share(L"Fine")};
    Json::Value data;
    sharing::ListShares(data);
    EXPECT_TRUE(data["Shares"][0]["SHARE_MEMBERS"].isNull()) << row.line;
    EXPECT_EQ(data["Shares"][1]["SHARE_MEMBERS"].size(), 1u) << row.line;
    EXPECT_TRUE(Logged(row.line) && Logged(row.failed)) << row.line << "\n" << Log();
  }
}

TEST_F(Sharing, ActionsPassTheirRequestAndAnswerStatusAndRemarks) {
  fake_.shares = {Share(L"Docs"), Share(L"B\u00fccher")};
  fake_.files = {hk::test::FakeFile{.id = 4000000000u}};
  struct Row {
    int code;
    const char* request;
    const wchar_t* call;
    const char* status;
    std::string remarks;
  };
  const std::string notFound = sharing::SystemErrorText(NERR_FileIdNotFound);
  const Row table[] = {
      {8001, R"({"SHARE_NAME":"Docs","MAX_USES":"-1"})", L"NetShareSetInfo Docs 1006 4294967295", "SUCCESS",
       "Successfully set this share Info"},
      {8001, R"({"SHARE_NAME":"Docs","MAX_USES":"10"})", L"NetShareSetInfo Docs 1006 10", "SUCCESS",
       "Successfully set this share Info"},
      {8001, R"({"SHARE_NAME":"Docs","MAX_USES":"abc"})", L"NetShareSetInfo Docs 1006 0", "SUCCESS",
       "Successfully set this share Info"},
      {8001, R"({"SHARE_NAME":"Nope","MAX_USES":25})", L"NetShareSetInfo Nope 1006 25", "Failed",
       sharing::SystemErrorText(NERR_NetNameNotFound)},
      {8002, R"({"SHARE_NAME":"B\u00fccher"})", L"NetShareDel B\u00fccher", "Success",
       "Successfully delete this Share"},
      {8002, R"({"SHARE_NAME":"B\u00fccher"})", L"NetShareDel B\u00fccher", "Failed",
       sharing::ComErrorText(NERR_NetNameNotFound)},
      {8006, R"({"UNC_CLIENT_NAME":"10.0.0.7","USER_NAME":"J\u00fcrgen"})", L"NetSessionDel 10.0.0.7 J\u00fcrgen",
       "Success", "Successfully delete this Session"},
      {8011, R"({"FILE_INFO_ID":"4000000000"})", L"NetFileClose 4000000000", "Success", "File Closed Successfully"},
      {8011, R"({"FILE_INFO_ID":"4000000000"})", L"NetFileClose 4000000000", "Failed", notFound},  // closed already
  };
  for (const Row& row : table) {
    fake_.calls.clear();
    const Json::Value data = Dispatch(row.code, Parse(row.request));
    EXPECT_EQ(fake_.calls, std::vector<std::wstring>{row.call}) << row.request;
    EXPECT_EQ(data["Status"], row.status) << row.request;
    EXPECT_EQ(data["Remarks"], row.remarks) << row.request;
  }
}

TEST_F(Sharing, FailuresAndMissingFunctionsAreAnsweredAsData) {
  const DWORD missing = sharing::kUnimplementedFunction;
  fake_.failures = {{L"NetShareEnum", ERROR_NOT_SUPPORTED},
                    {L"NetSessionEnum", ERROR_ACCESS_DENIED},
                    {L"NetFileEnum", missing},
                    {L"NetShareSetInfo", missing},
                    {L"NetShareDel", missing},
                    {L"NetSessionDel", ERROR_ACCESS_DENIED},
                    {L"NetFileClose", missing}};
  const std::string notImplemented = sharing::SystemErrorText(ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_EQ(Dispatch(8000, Parse(R"({"SHARE_NAME":"All_Shares"})")),
            Parse(R"({"Shares":"no_Shares_found","isSharesExceeded":false,"shareCount":""})"));
  EXPECT_EQ(Dispatch(8005), Parse(R"({"Status":"Failed","Sessions":null,"Remarks":")" +
                                  sharing::SystemErrorText(ERROR_ACCESS_DENIED) + "\"}"));
  EXPECT_EQ(Dispatch(8010), Parse(R"({"Status":"Failed","OpenFiles":null,"Remarks":")" + notImplemented + "\"}"));
  EXPECT_EQ(Dispatch(8001)["Remarks"], notImplemented);
  EXPECT_EQ(Dispatch(8002)["Remarks"], sharing::ComErrorText(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(Dispatch(8006)["Status"], "Failed");
  EXPECT_EQ(Dispatch(8011)["Remarks"], notImplemented);
  for (const char* function : {"NetFileEnum", "NetShareSetInfo", "NetShareDel", "NetFileClose"}) {
    EXPECT_TRUE(Logged(std::string(function) + " is not implemented on this system")) << function;
  }
}

TEST_F(Sharing, SessionRowsNameTheirComputerWhereALookupFindsIt) {
  fake_.sessions = {{L"127.0.0.1", L"guest", 1, 30, 5, SESS_GUEST, L"DOS LM 2.0", L"\\Device\\NetBT"},
                    {L"FRONTDESK-PC", L"J\u00fcrgen", 0, 0, 0, 0, L"Windows 10 Pro", L"\\Device\\N\u00e9tbios"}};
  const Json::Value sessions = Dispatch(8005)["Sessions"];
  ASSERT_EQ(sessions.size(), 2u) << sessions;
  const std::string loopback = sessions[0]["SESSION_COMPUTER_NAME"].asString();
  EXPECT_TRUE(loopback != "127.0.0.1" && !loopback.empty()) << loopback;
  EXPECT_TRUE(Logged("getnameinfo returned hostname = " + loopback)) << Log();
  EXPECT_EQ(sessions[1]["SESSION_COMPUTER_NAME"], "FRONTDESK-PC");
  EXPECT_TRUE(log_->contains("getnameinfo failed with error # ")) << Log();
  EXPECT_EQ(sessions[0]["SESSION_USER_FLAGS"], sharing::SessionUserFlagsText(SESS_GUEST));
  EXPECT_EQ(sessions[0]["SESSION_CLIENT_TYPE_NAME"], "LAN Manager for MS-DOS 2.0 clients.");
  EXPECT_EQ(sessions[0]["SESSION_ACTIVE_TIME"], "30");
  EXPECT_EQ(sessions[1]["SESSION_USER_FLAGS"], "");
  EXPECT_EQ(sessions[1]["SESSION_CLIENT_TYPE_NAME"], "");
  EXPECT_EQ(sessions[1]["SESSION_USER_NAME"], "J\xC3\xBCrgen");
  EXPECT_EQ(sessions[1]["SESSION_TRANSPORT_NAME"], "\\Device\\N\xC3\xA9tbios");
  fake_.sessions.clear();
  EXPECT_EQ(Dispatch(8005), Parse(R"({"Sessions":null,"isSessionExceeded":false,"sessionCount":"0"})"));
}

TEST_F(Sharing, SharesOnlyForTheKeywordAndCodesWithoutOperationBuildNothing) {
  fake_.shares = {Share(L"Docs")};
  EXPECT_EQ(Dispatch(8000, Parse(R"({"SHARE_NAME":"aLL_sHARES"})"))["shareCount"], "1");
  for (const char* request : {R"({"SHARE_NAME":"Docs"})", R"({})", R"(["All_Shares"])", R"("All_Shares")"}) {
    EXPECT_EQ(Dispatch(8000, Parse(request)),
              Parse(R"({"Shares":"no_Shares_found","isSharesExceeded":false,"shareCount":""})"))
        << request;
  }
  for (int code : {8004, 8007, 8299}) {
    Json::Value response;
    char* text = nullptr;
    EXPECT_EQ(HandleShareRequest(code, nullptr, &response, &text), 1) << code;
    EXPECT_TRUE(text == nullptr && response.isNull()) << code;
  }
  hk::test::RecordingWsSession session;  // through the library's own dispatch
  session.socket().DeliverText(R"({"toolId":8,"requestId":9,"requestMessage":{"requestCode":8010}})");
  session.socket().DeliverText(R"({"toolId":8,"requestId":9,"requestMessage":{"requestCode":8004}})");
  ASSERT_EQ(session.texts().size(), 2u);
  EXPECT_EQ(Parse(session.texts()[0])["responseCode"], 8310);
  EXPECT_EQ(session.texts()[1], "");
}

TEST_F(Sharing, AccountsFromWin32Account) {
  auto& results = wmi_->Results(L"select * from Win32_Account");
  results.AddRow()
      .Text(L"Description", L"Built-in account")
      .Text(L"Domain", L"HOST")
      .Bool(L"LocalAccount", true)
      .Text(L"Name", L"Administrat\u00f6r")
      .Text(L"SID", L"S-1-5-21-1-2-3-500")
      .UInt8(L"SIDType", 1)
      .Text(L"Status", L"OK");
  results.AddNullObject();
  results.AddRow().Null(L"Description", CIM_STRING).Text(L"Name", L"Users").Null(L"SIDType", CIM_UINT8);
  EXPECT_EQ(Dispatch(8003), Parse(R"({"Accounts":[
      {"INDEX":"0","DESCRIPTION":"Built-in account","STATUS":"OK","SID":"S-1-5-21-1-2-3-500","SIDType":"1",
       "DOMAIN":"HOST","NAME":"Administrat\u00f6r"},
      {"INDEX":"1","DESCRIPTION":"","STATUS":"","SID":"","SIDType":"0","DOMAIN":"","NAME":"Users"}]})"));
  EXPECT_TRUE(Logged("AcctDetails::GetGroupDetails() Finished....!")) << Log();
  EXPECT_TRUE(wmi_->AllReleasedOnce()) << wmi_->Accounting();

  for (const bool failQuery : {false, true}) {
    wmi_.reset();
    wmi_.emplace();  // no rows, or a query that fails
    if (failQuery) wmi_->Results(L"select * from Win32_Account").FailExecQuery();
    EXPECT_EQ(Dispatch(8003), Parse(R"({"Accounts":"no_Accounts_found"})")) << failQuery;
    EXPECT_EQ(Logged("AcctDetails::GetAccctDetails() Failed to Enumerate...!"), failQuery);
    EXPECT_TRUE(wmi_->AllReleasedOnce()) << wmi_->Accounting();
  }
}

#if defined(__i386__)
EXCEPTION_DISPOSITION NTAPI PassOn(EXCEPTION_RECORD*, void*, CONTEXT*, void*) { return ExceptionContinueSearch; }
EXCEPTION_REGISTRATION_RECORD* ChainHead() {
  EXCEPTION_REGISTRATION_RECORD* head;
  __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
  return head;
}
#endif

TEST(GuardedCall, AnAbandonedCallLeavesTheThreadsHandlersWorking) {
  const auto missing = [](void*) -> DWORD {
#if defined(__i386__)
    // A handler of the call's own, which dies with it.
    EXCEPTION_REGISTRATION_RECORD record{ChainHead(), PassOn};
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(&record) : "memory");
#endif
    hk::test::RaiseUnimplemented("netapi32.dll", "NetFileClose");
    return 7;
  };
#if defined(__i386__)
  EXCEPTION_REGISTRATION_RECORD* const before = ChainHead();
#endif
  bool raised = false;
  EXPECT_EQ(sharing::CallGuarded(missing, nullptr, &raised), 0u);
  EXPECT_TRUE(raised);
#if defined(__i386__)
  EXPECT_EQ(ChainHead(), before);
#endif
  EXPECT_EQ(sharing::CallGuarded([](void*) -> DWORD { return ::SetLastError(1234), 7; }, nullptr, &raised), 7u);
  EXPECT_TRUE(!raised && ::GetLastError() == 1234u);
  EXPECT_TRUE(::IsBadReadPtr(nullptr, 4));  // the system's own frame-based handlers still work
}

}  // namespace
