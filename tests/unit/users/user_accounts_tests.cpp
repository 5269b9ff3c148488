// Tool 3's account listing: rows read from the fake WMI and the outcome.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/messages.h"
#include "core/outcome.h"
#include "infra/wmi.h"
#include "support/fake_wmi.h"
#include "tools/users/user_rows.h"
#include "tools/users/users.h"
#include "wmi/wmi_test_support.h"

namespace {

using hk::test::FakeRow;
using hk::test::FakeWmi;

constexpr const wchar_t* kAccountQuery = L"SELECT * FROM Win32_UserAccount where LocalAccount = true";

FakeRow FullAccount(const wchar_t* name) {
  FakeRow row;
  row.Text(L"Name", name)
      .Text(L"Description", L"Built-in account")
      .Text(L"FullName", L"Full Name")
      .Int32(L"AccountType", 512, CIM_UINT32)
      .Bool(L"Disabled", false)
      .Text(L"Domain", L"HOST")
      .Text(L"SID", L"S-1-5-21-1-2-3-500");
  return row;
}

class UserAccounts : public hk::test::WmiLogTest {
 protected:
  void TearDown() override {
    if (text_) hk::FreeText(text_);
    WmiLogTest::TearDown();
  }

  // Runs request 3101's WMI part on a thread of its own. Returns its result;
  // the outcome is in status_.
  int Request() {
    int result = -1;
    com_ = hk::test::RunOnComThread([&] { result = hk::users::RunAccountRequest(&status_); });
    if (status_ && !hk::IsOutcomeWord(status_)) text_ = status_;
    return result;
  }

  // The response's "data" array; fails the test when there is no response.
  Json::Value Data() {
    EXPECT_NE(text_, nullptr) << "outcome: " << (status_ ? status_ : "(null)");
    if (!text_) return Json::Value();
    Json::Value response;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    EXPECT_TRUE(reader->parse(text_, text_ + std::strlen(text_), &response, &errors)) << errors;
    return response["responseMessage"]["responseData"]["data"];
  }

  void ExpectCleanEnd() {
    EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
    EXPECT_EQ(fake_.DirtyVariants(), 0);
    EXPECT_TRUE(com_.outer_kept);
    EXPECT_TRUE(com_.nothing_left);
  }

  FakeWmi fake_;
  char* status_ = nullptr;
  char* text_ = nullptr;  // a response text, freed at the end
  hk::test::ComBalance com_;
};

TEST_F(UserAccounts, FullRowsBecomeTheSuccessEnvelope) {
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"Administrator"));
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"Guest").Bool(L"Disabled", true).Int32(L"AccountType", 256));
  EXPECT_EQ(Request(), 1);
  ASSERT_NE(text_, nullptr);

  Json::Value response;
  ASSERT_TRUE(Json::Reader().parse(text_, response));
  EXPECT_EQ(response["messageVersion"], "1");
  EXPECT_EQ(response["toolId"], "3");
  EXPECT_EQ(response["responseId"], "3");
  EXPECT_EQ(response["isSuccess"], "true");
  EXPECT_FALSE(response.isMember("webClientId"));
  EXPECT_EQ(response["responseMessage"]["responseCode"], "3301");

  const Json::Value data = Data();
  ASSERT_TRUE(data.isArray());
  ASSERT_EQ(data.size(), 2u);
  Json::Value expected(Json::objectValue);
  expected["name"] = "Administrator";
  expected["description"] = "Built-in account";
  expected["full_name"] = "Full Name";
  expected["account_type"] = "Normal";
  expected["status"] = "Active";
  expected["domain"] = "HOST";
  expected["sid"] = "S-1-5-21-1-2-3-500";
  EXPECT_EQ(data[0], expected);
  EXPECT_EQ(data[1]["name"], "Guest");
  EXPECT_EQ(data[1]["status"], "Disabled");
  EXPECT_EQ(data[1]["account_type"], "Normal");

  ASSERT_EQ(fake_.queries().size(), 1u);
  EXPECT_EQ(fake_.queries()[0].text, kAccountQuery);
  ExpectCleanEnd();
}

TEST_F(UserAccounts, UnreadablePropertiesLeaveEmptyStringsAndTheRowIsStillSent) {
  VARIANT text_flag;
  ::VariantInit(&text_flag);
  text_flag.vt = VT_BSTR;
  text_flag.bstrVal = ::SysAllocString(L"True");
  auto& results = fake_.Results(kAccountQuery);
  // Missing properties: every Get fails.
  results.AddRow().Text(L"Caption", L"nothing the tool reads");
  // Wrong types: text where a number is expected and the reverse, and nulls.
  results.AddRow()
      .Int32(L"Name", 7)
      .Null(L"Description", CIM_STRING)
      .UInt8(L"FullName", 1)
      .Text(L"AccountType", L"512")
      .Null(L"Disabled", CIM_BOOLEAN)
      .Bool(L"Domain", true)
      .Int32(L"SID", 0);
  // "Disabled" of another type still decides by its value.
  results.AddRow(FullAccount(L"typed flag").Value(L"Disabled", text_flag, CIM_STRING));
  results.AddRow(FullAccount(L"numeric flag").Int32(L"Disabled", 1));
  ::VariantClear(&text_flag);

  EXPECT_EQ(Request(), 1);
  const Json::Value data = Data();
  ASSERT_EQ(data.size(), 4u);
  for (Json::ArrayIndex i = 0; i < 2; ++i) {
    const Json::Value& row = data[i];
    EXPECT_EQ(row.size(), 7u);
    for (const char* key : {"sid", "domain", "account_type", "name", "full_name", "description"}) {
      EXPECT_TRUE(row[key].isString()) << key;
      EXPECT_EQ(row[key], "") << "row " << i << " " << key;
    }
  }
  EXPECT_EQ(data[0]["status"], "");        // Get failed
  EXPECT_EQ(data[1]["status"], "Active");  // a null flag is not set
  EXPECT_EQ(data[2]["status"], "Disabled");
  EXPECT_EQ(data[3]["status"], "Disabled");
  ExpectCleanEnd();
}

TEST_F(UserAccounts, AccountTypesOutsideTheTableAreEmpty) {
  auto& results = fake_.Results(kAccountQuery);
  for (int32_t type : {256, 512, 2048, 4096, 8192, 0, 1, 513, 768, -1}) {
    results.AddRow(FullAccount(L"x").Int32(L"AccountType", type, CIM_UINT32));
  }
  EXPECT_EQ(Request(), 1);
  const Json::Value data = Data();
  ASSERT_EQ(data.size(), 10u);
  const char* expected[] = {"Normal", "Normal", "InterDomain", "WorkStation", "Server Account", "", "", "", "", ""};
  for (Json::ArrayIndex i = 0; i < data.size(); ++i) EXPECT_EQ(data[i]["account_type"], expected[i]) << i;
  ExpectCleanEnd();
}

TEST_F(UserAccounts, NonAsciiNamesLeaveAsUtf8) {
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"\u0141ukasz\u4E2D").Text(L"FullName", L"Zo\u00eb Smith"));
  EXPECT_EQ(Request(), 1);
  const Json::Value data = Data();
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0]["name"], "\xC5\x81ukasz\xE4\xB8\xAD");
  EXPECT_EQ(data[0]["full_name"], "Zo\xC3\xAB Smith");
  ExpectCleanEnd();
}

TEST_F(UserAccounts, NoRowsGiveFalse) {
  EXPECT_EQ(Request(), 0);
  EXPECT_STREQ(status_, hk::kOutcomeFalse);
  EXPECT_EQ(fake_.queries().size(), 1u);
  ExpectCleanEnd();
}

TEST_F(UserAccounts, FailedQueryGivesFalseWithItsLine) {
  fake_.Results(kAccountQuery).FailExecQuery();
  EXPECT_EQ(Request(), 0);
  EXPECT_STREQ(status_, hk::kOutcomeFalse);
  EXPECT_TRUE(Logged("Failed(ExecQuery) in -> || wmi::request || ")) << Log();
  ExpectCleanEnd();
}

TEST_F(UserAccounts, NoConnectionGivesFalse) {
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"unreached"));
  fake_.Fail(hk::test::FakeWmiStep::kSetBlanket);
  EXPECT_EQ(Request(), 0);
  EXPECT_STREQ(status_, hk::kOutcomeFalse);
  EXPECT_TRUE(fake_.queries().empty());
  EXPECT_FALSE(Logged("Failed(ExecQuery) in -> || wmi::request || "));
  ExpectCleanEnd();
}

TEST_F(UserAccounts, RowWithoutObjectIsSkipped) {
  auto& results = fake_.Results(kAccountQuery);
  results.AddNullObject();
  results.AddRow(FullAccount(L"first"));
  results.AddNullObject();
  results.AddRow(FullAccount(L"second"));
  EXPECT_EQ(Request(), 1);
  const Json::Value data = Data();
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0]["name"], "first");
  EXPECT_EQ(data[1]["name"], "second");
  ExpectCleanEnd();
}

TEST_F(UserAccounts, FailingNextEndsTheListWithWhatWasRead) {
  auto& results = fake_.Results(kAccountQuery);
  results.AddRow(FullAccount(L"read"));
  results.AddNextFailure(WBEM_E_TRANSPORT_FAILURE);
  results.AddRow(FullAccount(L"never"));
  EXPECT_EQ(Request(), 1);
  const Json::Value data = Data();
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0]["name"], "read");
  ExpectCleanEnd();
}

TEST_F(UserAccounts, FailingFirstNextGivesFalse) {
  fake_.Results(kAccountQuery).AddNextFailure(WBEM_E_TRANSPORT_FAILURE);
  EXPECT_EQ(Request(), 0);
  EXPECT_STREQ(status_, hk::kOutcomeFalse);
  ExpectCleanEnd();
}

TEST_F(UserAccounts, ExceptionGivesErrorAndStillReleases) {
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"first"));
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"second").ThrowOnGet(L"Domain"));
  EXPECT_EQ(Request(), 0);
  EXPECT_STREQ(status_, hk::kOutcomeError);
  EXPECT_TRUE(Logged("An error was caught in wmi::request() ")) << Log();
  ExpectCleanEnd();
}

TEST_F(UserAccounts, SecondRequestReadsAgain) {
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"again"));
  EXPECT_EQ(Request(), 1);
  hk::FreeText(text_);
  text_ = nullptr;
  EXPECT_EQ(Request(), 1);
  EXPECT_EQ(Data()[0]["name"], "again");
  EXPECT_EQ(fake_.locators_made(), 2);
  ExpectCleanEnd();
}

// Wine's WMI has the class but no accounts; the sequence must still end in an
// outcome.
TEST(UserAccountsReal, WholeSequenceEndsInAnOutcome) {
  ASSERT_EQ(hk::wbem::g_locatorFactory, &hk::wbem::CreateSystemLocator);
  char* status = nullptr;
  int result = -1;
  const auto com = hk::test::RunOnComThread([&] { result = hk::users::RunAccountRequest(&status); });
  ASSERT_NE(status, nullptr);
  EXPECT_FALSE(hk::OutcomeIs(status, hk::kOutcomeError));
  if (hk::OutcomeIs(status, hk::kOutcomeFalse)) {
    EXPECT_EQ(result, 0);
  } else {
    EXPECT_EQ(result, 1);
    Json::Value response;
    EXPECT_TRUE(Json::Reader().parse(status, response)) << status;
    EXPECT_EQ(response["responseMessage"]["responseCode"], "3301");
    hk::FreeText(status);
  }
  EXPECT_TRUE(com.outer_kept);
  EXPECT_TRUE(com.nothing_left);
}

}  // namespace
