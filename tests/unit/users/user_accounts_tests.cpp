// Tool 3's account listing: rows read from the fake WMI and the outcome.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <functional>
#include <string>

#include "core/messages.h"
#include "core/outcome.h"
#include "infra/wmi.h"
#include "support/fake_wmi.h"
#include "tools/users/users.h"
#include "wmi/wmi_test_support.h"

namespace {

using hk::test::FakeRow;
using hk::test::FakeWmi;

constexpr const wchar_t* kAccountQuery = L"SELECT * FROM Win32_UserAccount where LocalAccount = true";

FakeRow FullAccount(const wchar_t* name) {
  return FakeRow()
      .Text(L"Name", name)
      .Text(L"Description", L"Built-in account")
      .Text(L"FullName", L"Full Name")
      .Int32(L"AccountType", 512, CIM_UINT32)
      .Bool(L"Disabled", false)
      .Text(L"Domain", L"HOST")
      .Text(L"SID", L"S-1-5-21-1-2-3-500");
}

class UserAccounts : public hk::test::WmiLogTest {
 protected:
  // Runs request 3101's WMI part on a thread of its own: the response,
  // parsed, or null with the outcome word in outcome_. Ends with the fake
  // and COM left as they were found.
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

  int result_ = -1;
  std::string outcome_;
};

}  // namespace

TEST_F(UserAccounts, RowsBecomeTheSuccessEnvelopeAndAnUnreadablePropertyIsEmpty) {
  FakeWmi fake;
  auto& results = fake.Results(kAccountQuery);
  results.AddRow(FullAccount(L"Administrator"));
  results.AddRow(FullAccount(L"\u0141ukasz\u4E2D").Bool(L"Disabled", true).Int32(L"AccountType", 256));
  results.AddRow().Text(L"Caption", L"nothing the tool reads");  // every Get fails
  // Wrong types (text where a number is expected and the reverse) and nulls;
  // "Disabled" of another type still decides by its value.
  results.AddRow()
      .Int32(L"Name", 7)
      .Null(L"Description", CIM_STRING)
      .UInt8(L"FullName", 1)
      .Text(L"AccountType", L"512")
      .Int32(L"Disabled", 1)
      .Bool(L"Domain", true)
      .Int32(L"SID", 0);
  results.AddRow(FullAccount(L"null flag").Null(L"Disabled", CIM_BOOLEAN));
  const std::pair<int32_t, const char*> types[] = {{2048, "InterDomain"}, {8192, "Server Account"}, {513, ""}};
  for (const auto& [type, name] : types) results.AddRow(FullAccount(L"typed").Int32(L"AccountType", type, CIM_UINT32));

  const Json::Value response = Request(fake);
  EXPECT_EQ(result_, 1);
  EXPECT_TRUE(response["toolId"] == "3" && response["responseId"] == "3" && !response.isMember("webClientId"));
  EXPECT_EQ(response["responseMessage"]["responseCode"], "3301");
  const Json::Value& data = response["responseMessage"]["responseData"]["data"];
  ASSERT_EQ(data.size(), 8u);
  Json::Value expected(Json::objectValue);
  expected["name"] = "Administrator";
  expected["description"] = "Built-in account";
  expected["full_name"] = "Full Name";
  expected["account_type"] = "Normal";
  expected["status"] = "Active";
  expected["domain"] = "HOST";
  expected["sid"] = "S-1-5-21-1-2-3-500";
  EXPECT_EQ(data[0], expected);
  expected["name"] = "\xC5\x81ukasz\xE4\xB8\xAD";  // UTF-8, not narrowed
  expected["status"] = "Disabled";
  EXPECT_EQ(data[1], expected);
  Json::Value empty(Json::objectValue);
  for (const char* key : {"sid", "domain", "account_type", "name", "full_name", "description", "status"})
    empty[key] = "";
  EXPECT_EQ(data[2], empty) << "every Get failed";
  empty["status"] = "Disabled";
  EXPECT_EQ(data[3], empty) << "wrong types and nulls";
  EXPECT_EQ(data[4]["status"], "Active") << "a null flag is not set";
  for (Json::ArrayIndex i = 0; i < 3; ++i) EXPECT_EQ(data[i + 5]["account_type"], types[i].second) << types[i].first;
  ASSERT_EQ(fake.queries().size(), 1u);
  EXPECT_EQ(fake.queries()[0].text, kAccountQuery);
}

TEST_F(UserAccounts, NothingReadGivesFalseAndAnExceptionError) {
  const struct {
    const char* name;
    std::function<void(FakeWmi&)> wmi;
    const char* outcome;
  } cases[] = {
      {"no rows", [](FakeWmi&) {}, hk::kOutcomeFalse},
      {"a failed query", [](FakeWmi& f) { f.Results(kAccountQuery).FailExecQuery(); }, hk::kOutcomeFalse},
      {"a first Next that fails", [](FakeWmi& f) { f.Results(kAccountQuery).AddNextFailure(WBEM_E_TRANSPORT_FAILURE); },
       hk::kOutcomeFalse},
      {"no connection",
       [](FakeWmi& f) {
         f.Results(kAccountQuery).AddRow(FullAccount(L"unreached"));
         f.Fail(hk::test::FakeWmiStep::kSetBlanket);
       },
       hk::kOutcomeFalse},
      {"a row that throws",
       [](FakeWmi& f) {
         f.Results(kAccountQuery).AddRow(FullAccount(L"first")).AddRow(FullAccount(L"second").ThrowOnGet(L"Domain"));
       },
       hk::kOutcomeError},
  };
  for (const auto& c : cases) {
    FakeWmi fake;
    c.wmi(fake);
    Request(fake);
    EXPECT_EQ(result_, 0) << c.name;
    EXPECT_EQ(outcome_, c.outcome) << c.name;
  }
  EXPECT_TRUE(Logged("Failed(ExecQuery) in -> || wmi::request || ")) << Log();
  EXPECT_TRUE(Logged("An error was caught in wmi::request() ")) << Log();
}
