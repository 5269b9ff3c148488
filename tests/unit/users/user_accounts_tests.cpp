// Tool 3's account listing: rows read from the fake WMI and the outcome.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/outcome.h"
#include "infra/wmi.h"
#include "support/fake_wmi.h"
#include "support/wire_texts.h"
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
  // Request 3101's WMI part on a thread of its own: the answer or outcome
  // word in outcome_, parsed; fake and COM must end as found.
  Json::Value Request(const FakeWmi& fake) {
    char* status = nullptr;
    const auto com = hk::test::RunOnComThread([&] { result_ = hk::users::RunAccountRequest(&status); });
    EXPECT_TRUE(fake.AllReleasedOnce()) << fake.Accounting();
    EXPECT_TRUE(fake.DirtyVariants() == 0 && com.outer_kept && com.nothing_left);
    outcome_ = hk::test::TakeOutcome(status);
    Json::Value response;
    Json::Reader().parse(outcome_, response);
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
  // Wrong types read as empty; "Disabled" of another type still decides by its value.
  results.AddRow().Int32(L"Name", 7).Null(L"SID", CIM_STRING).Text(L"AccountType", L"512").Int32(L"Disabled", 1);
  results.AddRow(FullAccount(L"null flag").Null(L"Disabled", CIM_BOOLEAN).Int32(L"AccountType", 2048));
  results.AddRow(FullAccount(L"server").Int32(L"AccountType", 8192));
  results.AddRow(FullAccount(L"odd").Int32(L"AccountType", 513));

  const Json::Value response = Request(fake);
  EXPECT_EQ(result_, 1);
  EXPECT_TRUE(response["toolId"] == "3" && response["responseId"] == "3" && !response.isMember("webClientId"));
  EXPECT_EQ(response["responseMessage"]["responseCode"], "3301");
  std::vector<std::string> rows;
  for (const Json::Value& row : response["responseMessage"]["responseData"]["data"])
    rows.push_back(Json::FastWriter().write(row));
  const auto full = [](const std::string& type, const std::string& name, const std::string& status) {
    return R"({"account_type":")" + type +
           R"(","description":"Built-in account","domain":"HOST","full_name":"Full Name","name":")" + name +
           R"(","sid":"S-1-5-21-1-2-3-500","status":")" + status + "\"}\n";
  };
  const std::string nothing = R"({"account_type":"","description":"","domain":"","full_name":"","name":"","sid":"",)";
  EXPECT_EQ(rows,
            (std::vector<std::string>{full("Normal", "Administrator", "Active"),
                                      full("Normal", "\\u0141ukasz\\u4e2d", "Disabled"),  // UTF-8, not narrowed
                                      nothing + R"("status":""})" + "\n", nothing + R"("status":"Disabled"})" + "\n",
                                      full("InterDomain", "null flag", "Active"),
                                      full("Server Account", "server", "Active"), full("", "odd", "Active")}));
  ASSERT_EQ(fake.queries().size(), 1u);
  EXPECT_EQ(fake.queries()[0].text, kAccountQuery);
}

// No row gives "false" (a failed query here: every way to no row ends in a
// count of 0); an exception gives "error" and still releases everything.
TEST_F(UserAccounts, NothingReadGivesFalseAndAnExceptionError) {
  {
    FakeWmi fake;
    fake.Results(kAccountQuery).FailExecQuery();
    Request(fake);
    EXPECT_EQ(std::pair(result_, outcome_), std::pair(0, std::string(hk::kOutcomeFalse)));
    EXPECT_TRUE(Logged("Failed(ExecQuery) in -> || wmi::request || ")) << Log();
  }
  FakeWmi fake;
  fake.Results(kAccountQuery).AddRow(FullAccount(L"first")).AddRow(FullAccount(L"second").ThrowOnGet(L"Domain"));
  Request(fake);
  EXPECT_EQ(std::pair(result_, outcome_), std::pair(0, std::string(hk::kOutcomeError)));
  EXPECT_TRUE(Logged("An error was caught in wmi::request() ")) << Log();
}
