// Tool 3's account listing: rows read from the fake WMI and the outcome.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/outcome.h"
#include "infra/wmi.h"
#include "support/fake_wmi.h"
#include "tools/users/users.h"
#include "wmi/wmi_test_support.h"

namespace {

using hk::test::FakeResults;
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
  // Runs request 3101's WMI part on a thread of its own; the response, parsed,
  // or null with the outcome word in outcome_. Ends with the fake and COM
  // left as they were found.
  Json::Value Request() { return Request(fake_); }
  Json::Value Request(const FakeWmi& fake) {
    char* status = nullptr;
    const auto com = hk::test::RunOnComThread([&] { result_ = hk::users::RunAccountRequest(&status); });
    EXPECT_TRUE(fake.AllReleasedOnce()) << fake.Accounting();
    EXPECT_EQ(fake.DirtyVariants(), 0);
    EXPECT_TRUE(com.outer_kept && com.nothing_left);
    Json::Value response;
    outcome_ = status ? status : "(null)";
    if (status && !hk::IsOutcomeWord(status)) {
      Json::Reader().parse(status, response);
      hk::FreeText(status);
    }
    return response;
  }
  static const Json::Value& Data(const Json::Value& response) {
    return response["responseMessage"]["responseData"]["data"];
  }

  FakeWmi fake_;
  int result_ = -1;
  std::string outcome_;
};

}  // namespace

TEST_F(UserAccounts, FullRowsBecomeTheSuccessEnvelope) {
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"Administrator"));
  fake_.Results(kAccountQuery)
      .AddRow(FullAccount(L"\u0141ukasz\u4E2D").Bool(L"Disabled", true).Int32(L"AccountType", 256));
  const Json::Value response = Request();
  EXPECT_EQ(result_, 1);
  EXPECT_TRUE(response["toolId"] == "3" && response["responseId"] == "3" && !response.isMember("webClientId"));
  EXPECT_EQ(response["responseMessage"]["responseCode"], "3301");
  ASSERT_EQ(Data(response).size(), 2u);
  Json::Value expected(Json::objectValue);
  expected["name"] = "Administrator";
  expected["description"] = "Built-in account";
  expected["full_name"] = "Full Name";
  expected["account_type"] = "Normal";
  expected["status"] = "Active";
  expected["domain"] = "HOST";
  expected["sid"] = "S-1-5-21-1-2-3-500";
  EXPECT_EQ(Data(response)[0], expected);
  expected["name"] = "\xC5\x81ukasz\xE4\xB8\xAD";  // UTF-8, not narrowed
  expected["status"] = "Disabled";
  EXPECT_EQ(Data(response)[1], expected);
  ASSERT_EQ(fake_.queries().size(), 1u);
  EXPECT_EQ(fake_.queries()[0].text, kAccountQuery);
}

TEST_F(UserAccounts, UnreadablePropertiesLeaveEmptyStringsAndTheRowIsStillSent) {
  VARIANT textFlag;
  ::VariantInit(&textFlag);
  textFlag.vt = VT_BSTR;
  textFlag.bstrVal = ::SysAllocString(L"True");
  FakeResults& results = fake_.Results(kAccountQuery);
  results.AddRow().Text(L"Caption", L"nothing the tool reads");  // every Get fails
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
  results.AddRow(FullAccount(L"typed flag").Value(L"Disabled", textFlag, CIM_STRING));
  results.AddRow(FullAccount(L"numeric flag").Int32(L"Disabled", 1));
  ::VariantClear(&textFlag);
  const char* types[] = {"Normal", "Normal", "InterDomain", "WorkStation", "Server Account", "", "", "", "", ""};
  const int32_t values[] = {256, 512, 2048, 4096, 8192, 0, 1, 513, 768, -1};
  for (const int32_t type : values) results.AddRow(FullAccount(L"x").Int32(L"AccountType", type, CIM_UINT32));

  const Json::Value data = Data(Request());
  ASSERT_EQ(data.size(), 14u);
  for (Json::ArrayIndex i = 0; i < 2; ++i) {
    EXPECT_EQ(data[i].size(), 7u);
    for (const char* key : {"sid", "domain", "account_type", "name", "full_name", "description"})
      EXPECT_EQ(data[i][key], "") << "row " << i << " " << key;
  }
  EXPECT_EQ(data[0]["status"], "") << "Get failed";
  EXPECT_EQ(data[1]["status"], "Active") << "a null flag is not set";
  EXPECT_EQ(data[2]["status"], "Disabled");
  EXPECT_EQ(data[3]["status"], "Disabled");
  for (Json::ArrayIndex i = 0; i < 10; ++i) EXPECT_EQ(data[i + 4]["account_type"], types[i]) << values[i];
}

TEST_F(UserAccounts, NothingReadGivesFalse) {
  const struct {
    const char* name;
    std::function<void(FakeWmi&)> wmi;
    bool queried;
  } cases[] = {
      {"no rows", [](FakeWmi&) {}, true},
      {"a failed query", [](FakeWmi& f) { f.Results(kAccountQuery).FailExecQuery(); }, true},
      {"a first Next that fails", [](FakeWmi& f) { f.Results(kAccountQuery).AddNextFailure(WBEM_E_TRANSPORT_FAILURE); },
       true},
      {"no connection",
       [](FakeWmi& f) {
         f.Results(kAccountQuery).AddRow(FullAccount(L"unreached"));
         f.Fail(hk::test::FakeWmiStep::kSetBlanket);
       },
       false},
  };
  for (const auto& c : cases) {
    FakeWmi fake;  // in place of fake_ while it lives
    c.wmi(fake);
    Request(fake);
    EXPECT_EQ(result_, 0) << c.name;
    EXPECT_EQ(outcome_, hk::kOutcomeFalse) << c.name;
    EXPECT_EQ(fake.queries().size(), c.queried ? 1u : 0u) << c.name;
  }
  EXPECT_TRUE(Logged("Failed(ExecQuery) in -> || wmi::request || ")) << Log();
}

TEST_F(UserAccounts, ExceptionGivesErrorAndStillReleases) {
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"first"));
  fake_.Results(kAccountQuery).AddRow(FullAccount(L"second").ThrowOnGet(L"Domain"));
  Request();
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(outcome_, hk::kOutcomeError);
  EXPECT_TRUE(Logged("An error was caught in wmi::request() ")) << Log();
}
