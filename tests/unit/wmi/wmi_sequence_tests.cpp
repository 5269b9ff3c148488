// The COM set-up, connection and query procedure against the fake WMI, and
// once against the system's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "infra/wmi.h"
#include "infra/wmi_query.h"
#include "infra/wmi_variant.h"
#include "support/fake_wmi.h"
#include "wmi/wmi_test_support.h"

namespace {

using hk::test::FakeResults;
using hk::test::FakeRow;
using hk::test::FakeWmi;
using hk::test::FakeWmiStep;
using hk::wbem::QueryStatus;

const hk::wbem::QueryTexts kTexts{{L"T enumerate failed %d"},
                                  {L"T next failed hres:%d, LastError:%d"},
                                  {L"T object null LastError:%d"},
                                  {L"T finished"}};
constexpr const wchar_t* kQuery = L"SELECT * FROM Win32_Thing";

FakeRow Named(const wchar_t* name) { return FakeRow().Text(L"Name", name); }

class WmiSequence : public hk::test::WmiLogTest {
 protected:
  // The whole sequence on a local wmi, as the inventory tools run it, on a
  // thread of its own; the names of the rows read are collected. Ends with
  // every fake object released once and COM left as it was found.
  hk::wbem::QueryResult Run(const FakeWmi& fake, const hk::wbem::QueryOptions& options = {}) {
    hk::wbem::QueryResult result;
    names_.clear();
    const auto com = hk::test::RunOnComThread([&] {
      ::SetLastError(0);
      wmi w;
      result = hk::wbem::RunQuery(hk::wbem::Open(w), kQuery, kTexts, options, [&](IWbemClassObject& row) {
        names_.push_back(hk::wbem::Read<std::wstring>(row, L"Name").value_or(L"?"));
      });
    });
    EXPECT_TRUE(fake.AllReleasedOnce()) << fake.Accounting();
    EXPECT_EQ(fake.DirtyVariants(), 0);
    EXPECT_TRUE(com.outer_kept && com.nothing_left);
    return result;
  }

  std::vector<std::wstring> names_;
};

}  // namespace

TEST_F(WmiSequence, ConnectsQueriesAndWalksAsWmiExpectsOnEveryRequest) {
  FakeWmi fake;
  fake.Results().AddRow(Named(L"one")).AddRow(Named(L"two"));
  for (int request = 0; request < 2; ++request) {
    const auto result = Run(fake);
    EXPECT_EQ(result.status, QueryStatus::kCompleted);
    EXPECT_EQ(result.rows, 2u);
    EXPECT_EQ(names_, (std::vector<std::wstring>{L"one", L"two"}));
  }
  EXPECT_EQ(fake.connects(), std::vector<std::wstring>(2, L"ROOT\\CIMV2"));
  ASSERT_EQ(fake.blankets().size(), 2u);
  const auto& b = fake.blankets()[1];
  EXPECT_EQ(std::vector<DWORD>({b.authn_service, b.authz_service, b.authn_level, b.imp_level, b.capabilities}),
            std::vector<DWORD>(
                {RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, EOAC_NONE}));
  EXPECT_FALSE(b.server_principal || b.auth_info);
  ASSERT_EQ(fake.queries().size(), 2u);
  const auto& q = fake.queries()[1];
  EXPECT_TRUE(q.language == L"WQL" && q.text == kQuery && q.flags == 0x30) << q.flags;
  EXPECT_EQ(fake.next_timeouts(), std::vector<LONG>(6, WBEM_INFINITE)) << "two rows and the end, twice";
  EXPECT_TRUE(Logged("T finished"));
}

// A failing set-up step logs its line, releases what it had and leaves COM
// once; a walk skips a missing object and ends where it must.
TEST_F(WmiSequence, EachStepEndsTheSequenceWhereItMust) {
  const auto check = [&](const char* name, std::optional<FakeWmiStep> failing, const FakeResults& results,
                         bool stopOnFailedNext, QueryStatus status, const std::vector<std::wstring>& names,
                         const std::string& line, const std::string& absent) {
    FakeWmi fake;
    fake.Results().AddRow(Named(L"another query's row"));
    fake.Results(kQuery) = results;
    if (failing) fake.Fail(*failing, E_ACCESSDENIED);
    const size_t logged = Log().size();
    const auto result = Run(fake, {.pause_before_next = true, .stop_on_failed_next = stopOnFailedNext});
    const std::string log = Log().substr(logged) + "\n";
    EXPECT_EQ(result.status, status) << name;
    EXPECT_EQ(result.rows, names.size()) << name;
    EXPECT_EQ(names_, names) << name;
    EXPECT_NE(log.find("  " + line + "\n"), std::string::npos) << name << ": " << log;
    EXPECT_EQ(log.find(absent), std::string::npos) << name << ": " << log;
    EXPECT_EQ(fake.queries().empty(), status == QueryStatus::kNotConnected) << name;
  };
  const FakeResults one = FakeResults().AddRow(Named(L"never read"));
  check("no locator", FakeWmiStep::kCreateLocator, one, true, QueryStatus::kNotConnected, {},
        "Failed(CoCreateInstance) in -> ||wmi::create_instance||", "T enumerate");
  check("no connection", FakeWmiStep::kConnectServer, one, true, QueryStatus::kNotConnected, {},
        "Failed(ConnectServer) in -> ||wmi::connect||", "CoSetProxyBlanket");
  check("no blanket", FakeWmiStep::kSetBlanket, one, true, QueryStatus::kNotConnected, {},
        "Failed(CoSetProxyBlanket) in -> ||wmi::security||", "T enumerate");
  check("a failed query", {}, FakeResults().FailExecQuery(), true, QueryStatus::kQueryFailed, {},
        "T enumerate failed 0", "T finished");
  check("a row without object is skipped", {},
        FakeResults().AddRow(Named(L"before")).AddNullObject(1234).AddRow(Named(L"after")), true,
        QueryStatus::kCompleted, {L"before", L"after"}, "T object null LastError:1234", "T next failed");
  check("a failed Next ends the walk", {},
        FakeResults().AddRow(Named(L"kept")).AddNextFailure(WBEM_E_TRANSPORT_FAILURE, 1, 31).AddRow(Named(L"no")), true,
        QueryStatus::kNextFailed, {L"kept"},
        "T next failed hres:" + std::to_string(static_cast<int>(WBEM_E_TRANSPORT_FAILURE)) + ", LastError:31",
        "T finished");
  check("a count of zero ends it even when Next failed", {},
        FakeResults().AddRow(Named(L"kept")).AddNextFailure(WBEM_E_FAILED, 0).AddRow(Named(L"no")), true,
        QueryStatus::kCompleted, {L"kept"}, "T finished", "T object null");
  check("without the result check only the count counts", {},
        FakeResults().AddNextFailure(WBEM_E_FAILED, 1).AddRow(Named(L"read")), false, QueryStatus::kCompleted,
        {L"read"}, "T finished", "T next failed");
}

TEST_F(WmiSequence, LogLinesGoAtTheirLevel) {
  SetLogLevel(1);
  FakeWmi fake;
  fake.Results().AddRow(Named(L"row"));
  fake.Results(L"failing").FailExecQuery();
  const hk::wbem::QueryTexts texts{{L"T level one enumerate", 1}, {}, {}, {L"T level two finished", 2}};
  wmi w;
  for (const wchar_t* query : {L"failing", kQuery})
    hk::wbem::RunQuery(hk::wbem::Open(w), query, texts, {}, [](IWbemClassObject&) {});
  EXPECT_TRUE(Logged("T level one enumerate")) << Log();
  EXPECT_FALSE(Logged("T level two finished"));
}

// The sequence against the system's own WMI (Wine's in the test prefix),
// through a class that has rows there.
TEST(WmiReal, FindsThisProcessAmongWin32ProcessRows) {
  ASSERT_EQ(hk::wbem::g_locatorFactory, &hk::wbem::CreateSystemLocator);
  hk::wbem::QueryResult result;
  std::optional<std::wstring> own_name;
  const auto com = hk::test::RunOnComThread([&] {
    wmi w;
    result = hk::wbem::RunQuery(hk::wbem::Open(w), L"SELECT * FROM Win32_Process", {}, {.pause_before_next = true},
                                [&](IWbemClassObject& row) {
                                  if (hk::wbem::Read<uint32_t>(row, L"ProcessId") == ::GetCurrentProcessId())
                                    own_name = hk::wbem::Read<std::wstring>(row, L"Name");
                                });
  });
  EXPECT_EQ(result.status, hk::wbem::QueryStatus::kCompleted);
  EXPECT_EQ(own_name, L"wmi_tests.exe");
  EXPECT_TRUE(com.outer_kept && com.nothing_left);
}
