// Tool 8's dispatcher: the answer of every request code, the shares keyword,
// the accounts list on the fake WMI, and a request through the socket.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <string>
#include <vector>

#include "core/Chostkeeper.h"
#include "core/globals.h"
#include "core/messages.h"
#include "sharing/fake_sharing_api.h"
#include "support/fake_wmi.h"
#include "support/recording_socket.h"
#include "tools/sharing/sharing.h"
#include "wmi/wmi_test_support.h"

namespace {

using hk::test::FakeRow;

constexpr const wchar_t* kAccountQuery = L"select * from Win32_Account";

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
  return value;
}

class ShareDispatch : public hk::test::WmiLogTest {
 protected:
  void SetUp() override {
    WmiLogTest::SetUp();
    fake_.shares = {hk::test::FakeShare{.name = L"Docs"}};
    fake_.files = {hk::test::FakeFile{.id = 7}};
  }
  // Runs the dispatcher on a COM thread of its own; the parsed response, or
  // null when no text was built.
  Json::Value Request(int code, const Json::Value* data) {
    Json::Value request = data ? *data : Json::Value();
    Json::Value response;
    char* text = nullptr;
    int result = -1;
    com_ = hk::test::RunOnComThread(
        [&] { result = HandleShareRequest(code, data ? &request : nullptr, &response, &text); });
    EXPECT_EQ(result, 1) << code;
    if (!text) return Json::Value();
    const Json::Value parsed = Parse(text);
    hk::FreeText(text);
    EXPECT_EQ(parsed["responseData"], response) << code << ": the data sent is the data filled";
    return parsed;
  }
  Json::Value Request(int code, const Json::Value& data) { return Request(code, &data); }

  hk::test::FakeSharingApi fake_;
  hk::test::FakeWmi wmi_;
  hk::test::ComBalance com_;
};

TEST_F(ShareDispatch, EveryCodeAnswersWithItsSuccessCodeAndItsData) {
  Json::Value all;
  all["SHARE_NAME"] = "All_Shares";
  Json::Value limit;
  limit["SHARE_NAME"] = "Docs";
  limit["MAX_USES"] = "5";
  Json::Value file;
  file["FILE_INFO_ID"] = "7";
  Json::Value session;
  session["UNC_CLIENT_NAME"] = "10.0.0.7";
  session["USER_NAME"] = "alice";
  const struct {
    int code;
    Json::Value data;
    std::vector<std::string> keys;
  } table[] = {
      {8000, all, {"Shares", "isSharesExceeded", "shareCount"}},
      {8001, limit, {"Remarks", "Status"}},
      {8002, limit, {"Remarks", "Status"}},
      {8003, Json::Value(Json::objectValue), {"Accounts"}},
      {8005, Json::Value(Json::objectValue), {"Sessions", "isSessionExceeded", "sessionCount"}},
      {8006, session, {"Remarks", "Status"}},
      {8010, Json::Value(Json::objectValue), {"OpenFiles", "fileCount", "isfileCountExceeded"}},
      {8011, file, {"Remarks", "Status"}},
  };
  for (const auto& row : table) {
    const Json::Value answer = Request(row.code, row.data);
    EXPECT_EQ(answer["toolId"], 8) << row.code;
    EXPECT_EQ(answer["responseId"], 0) << row.code;
    EXPECT_EQ(answer["isSuccess"], "true") << row.code;
    EXPECT_EQ(answer["responseCode"], row.code + 300) << row.code;
    EXPECT_EQ(answer["responseData"].getMemberNames(), row.keys) << row.code;
    EXPECT_TRUE(com_.outer_kept && com_.nothing_left) << row.code;
  }
  EXPECT_EQ(fake_.setInfoCalls.size(), 1u);
  EXPECT_EQ(fake_.deletedShares, std::vector<std::wstring>{L"Docs"});
  EXPECT_EQ(fake_.closedFiles, std::vector<DWORD>{7});
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
}

TEST_F(ShareDispatch, OnlyTheAllSharesKeywordListsAndFailuresLeaveTheMarker) {
  const struct {
    const char* name;
    bool listed;
  } table[] = {{"All_Shares", true}, {"aLL_sHARES", true}, {"Docs", false}, {"", false}};
  for (const auto& row : table) {
    Json::Value request;
    request["SHARE_NAME"] = row.name;
    const Json::Value data = Request(8000, request)["responseData"];
    EXPECT_EQ(data["Shares"].isArray(), row.listed) << row.name;
    EXPECT_EQ(data["shareCount"], row.listed ? "1" : "") << row.name;
    if (!row.listed) {
      EXPECT_EQ(data["Shares"], "no_Shares_found") << row.name;
    }
    EXPECT_EQ(data["isSharesExceeded"], false) << row.name;
  }
  fake_.shareEnumFailure = ERROR_NOT_SUPPORTED;
  Json::Value request;
  request["SHARE_NAME"] = "ALL_SHARES";
  const Json::Value data = Request(8000, request)["responseData"];
  EXPECT_EQ(data.toStyledString(),
            Parse(R"({"Shares":"no_Shares_found","isSharesExceeded":false,"shareCount":""})").toStyledString());
}

TEST_F(ShareDispatch, RequestDataOfAnyShapeIsAnswered) {
  const Json::Value shapes[] = {Json::Value(), Json::Value(Json::arrayValue), Json::Value("All_Shares"),
                                Json::Value(42)};
  for (int code : {8000, 8001, 8002, 8006, 8011}) {
    for (const Json::Value& shape : shapes) {
      const Json::Value answer = Request(code, shape);
      EXPECT_EQ(answer["responseCode"], code + 300) << code << " " << shape.toStyledString();
    }
    EXPECT_EQ(Request(code, nullptr)["responseCode"], code + 300) << code << " without data";
  }
}

TEST_F(ShareDispatch, CodesWithoutAnOperationBuildNothing) {
  for (int code : {8004, 8007, 8012, 8299, 8300}) {
    Json::Value response;
    char* text = nullptr;
    EXPECT_EQ(HandleShareRequest(code, nullptr, &response, &text), 1) << code;
    EXPECT_EQ(text, nullptr) << code;
    EXPECT_TRUE(response.isNull()) << code;
  }
}

TEST_F(ShareDispatch, AccountRowsFromWin32Account) {
  auto& results = wmi_.Results(kAccountQuery);
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
  const Json::Value accounts = Request(8003, Json::Value())["responseData"]["Accounts"];
  ASSERT_EQ(accounts.size(), 2u) << accounts.toStyledString();
  const Json::Value expected =
      Parse(R"({"INDEX":"0","DESCRIPTION":"Built-in account","STATUS":"OK","SID":"S-1-5-21-1-2-3-500","SIDType":"1",)"
            R"("DOMAIN":"HOST","NAME":"Administrat\u00f6r"})");
  EXPECT_EQ(accounts[0], expected);
  const Json::Value partial =
      Parse(R"({"INDEX":"1","DESCRIPTION":"","STATUS":"","SID":"","SIDType":"0","DOMAIN":"","NAME":"Users"})");
  EXPECT_EQ(accounts[1], partial);
  ASSERT_EQ(wmi_.queries().size(), 1u);
  EXPECT_EQ(wmi_.queries()[0].text, kAccountQuery);
  EXPECT_TRUE(Logged("AcctDetails::GetGroupDetails() Finished....!")) << Log();
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
}

TEST_F(ShareDispatch, NoAccountsGiveTheMarker) {
  const struct {
    const char* name;
    void (*arrange)(hk::test::FakeWmi&);
    const char* line;
  } table[] = {
      {"no rows", [](hk::test::FakeWmi&) {},
       "AcctDetails::GetGroupDetails()...Successfully Group details are printed....!"},
      {"query fails", [](hk::test::FakeWmi& w) { w.Results(kAccountQuery).FailExecQuery(); },
       "AcctDetails::GetAccctDetails() Failed to Enumerate...!"},
      {"no connection", [](hk::test::FakeWmi& w) { w.Fail(hk::test::FakeWmiStep::kConnectServer); },
       "Failed(ConnectServer) in -> ||wmi::connect||"},
      {"first Next fails", [](hk::test::FakeWmi& w) { w.Results(kAccountQuery).AddNextFailure(); }, nullptr},
  };
  for (const auto& row : table) {
    hk::test::FakeWmi wmi;
    row.arrange(wmi);
    log_.emplace();
    const Json::Value data = Request(8003, Json::Value())["responseData"];
    EXPECT_EQ(data.toStyledString(), Parse(R"({"Accounts":"no_Accounts_found"})").toStyledString()) << row.name;
    if (row.line) {
      EXPECT_TRUE(Logged(row.line)) << row.name << "\n" << Log();
    }
    EXPECT_TRUE(Logged("[GroupDetails::initializeGroupsParameters] Finished!")) << row.name;
    EXPECT_TRUE(wmi.AllReleasedOnce()) << row.name << wmi.Accounting();
  }
}

TEST(ShareDispatchThroughTheSocket, ARequestOfTool8IsAnsweredOnTheSocket) {
  hk::test::FakeSharingApi fake;
  fake.files = {hk::test::FakeFile{.id = 3, .permissions = 3}};
  hk::test::RecordingWsSession session;
  g_running = 1;
  session.socket().DeliverText(R"({"toolId":8,"requestId":9,"requestMessage":{"requestCode":8010,"requestData":{}}})");
  session.socket().DeliverText(R"({"toolId":8,"requestId":9,"requestMessage":{"requestCode":8004,"requestData":{}}})");
  g_running = 0;
  const std::vector<std::string> sent = session.texts();
  ASSERT_EQ(sent.size(), 2u);
  const Json::Value answer = Parse(sent[0]);
  EXPECT_EQ(answer["responseCode"], 8310);
  EXPECT_EQ(answer["responseData"]["OpenFiles"][0]["FILE_INFO_PERMISSION"], "READ,WRITE");
  EXPECT_EQ(sent[1], "");  // a code without an operation sends the empty text
}

}  // namespace
