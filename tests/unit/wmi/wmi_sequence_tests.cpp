// The COM set-up, connection and query procedure against the fake WMI.
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
  hk::wbem::QueryResult Run(const hk::wbem::QueryOptions& options = {}) {
    hk::wbem::QueryResult result;
    const auto com = hk::test::RunOnComThread([&] {
      ::SetLastError(0);
      wmi w;
      result = hk::wbem::RunQuery(hk::wbem::Open(w), kQuery, kTexts, options, [&](IWbemClassObject& row) {
        names_.push_back(hk::wbem::Read<std::wstring>(row, L"Name").value_or(L"?"));
      });
    });
    EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
    EXPECT_EQ(fake_.DirtyVariants(), 0);
    EXPECT_TRUE(com.outer_kept && com.nothing_left);
    return result;
  }

  // One walk over the results steps make: its status, the rows read, a line
  // this walk logged and one it did not.
  void ExpectWalk(const char* name, const std::function<void(FakeResults&)>& steps, bool stopOnFailedNext,
                  QueryStatus status, const std::vector<std::wstring>& names, const std::string& line,
                  const std::string& absent) {
    FakeWmi fake;
    steps(fake.Results(kQuery));
    fake.Results().AddRow(Named(L"another query's row"));
    const size_t logged = Log().size();
    const auto result = Run({.pause_before_next = true, .stop_on_failed_next = stopOnFailedNext});
    const std::string log = Log().substr(logged);
    EXPECT_EQ(result.status, status) << name;
    EXPECT_EQ(names_, names) << name;
    EXPECT_NE(log.find(line), std::string::npos) << name << ": " << log;
    EXPECT_EQ(log.find(absent), std::string::npos) << name << ": " << log;
    EXPECT_TRUE(fake.AllReleasedOnce()) << name << ": " << fake.Accounting();
    names_.clear();
  }

  FakeWmi fake_;
  std::vector<std::wstring> names_;
};

}  // namespace

TEST_F(WmiSequence, ConnectsQueriesAndWalksAsWmiExpects) {
  fake_.Results().AddRow().Text(L"Name", L"one");
  fake_.Results().AddRow().Text(L"Name", L"two");
  const auto result = Run();
  EXPECT_EQ(result.status, QueryStatus::kCompleted);
  EXPECT_EQ(result.rows, 2u);
  EXPECT_EQ(names_, (std::vector<std::wstring>{L"one", L"two"}));

  ASSERT_EQ(fake_.connects().size(), 1u);
  const auto& c = fake_.connects()[0];
  EXPECT_EQ(c.resource, L"ROOT\\CIMV2");
  EXPECT_FALSE(c.user || c.password || c.locale || c.authority || c.context || c.flags);
  ASSERT_EQ(fake_.blankets().size(), 1u);
  const auto& b = fake_.blankets()[0];
  EXPECT_EQ(std::vector<DWORD>({b.authn_service, b.authz_service, b.authn_level, b.imp_level, b.capabilities}),
            std::vector<DWORD>(
                {RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, EOAC_NONE}));
  EXPECT_FALSE(b.server_principal || b.auth_info);
  ASSERT_EQ(fake_.queries().size(), 1u);
  const auto& q = fake_.queries()[0];
  EXPECT_TRUE(q.language == L"WQL" && q.text == kQuery && q.flags == 0x30 && !q.context) << q.flags;
  EXPECT_EQ(fake_.next_timeouts(), std::vector<LONG>(3, WBEM_INFINITE)) << "two rows and the end";
  EXPECT_TRUE(Logged("T finished"));

  // A second request runs the whole sequence again.
  Run();
  EXPECT_EQ(fake_.locators_made(), 2);
  EXPECT_EQ(names_.size(), 4u);
}

// Each failing step logs its line, releases what it had, leaves COM once, and
// the steps after it touch nothing.
TEST_F(WmiSequence, AFailingSetUpStepStopsTheSequenceThere) {
  const struct {
    FakeWmiStep step;
    const char* line;
    size_t connects, blankets;
  } cases[] = {{FakeWmiStep::kCreateLocator, "Failed(CoCreateInstance) in -> ||wmi::create_instance||", 0, 0},
               {FakeWmiStep::kConnectServer, "Failed(ConnectServer) in -> ||wmi::connect||", 1, 0},
               {FakeWmiStep::kSetBlanket, "Failed(CoSetProxyBlanket) in -> ||wmi::security||", 1, 1}};
  for (const auto& c : cases) {
    FakeWmi fake;  // in place of fake_ while it lives
    fake.Results().AddRow().Text(L"Name", L"never read");
    fake.Fail(c.step, E_ACCESSDENIED);
    const auto result = Run();
    EXPECT_EQ(result.status, QueryStatus::kNotConnected) << c.line;
    EXPECT_EQ(result.rows, 0u) << c.line;
    EXPECT_TRUE(Logged(c.line)) << Log();
    EXPECT_EQ(fake.connects().size(), c.connects) << c.line;
    EXPECT_EQ(fake.blankets().size(), c.blankets) << c.line;
    EXPECT_TRUE(fake.queries().empty()) << c.line;
    EXPECT_TRUE(fake.AllReleasedOnce()) << c.line << ": " << fake.Accounting();
  }
  EXPECT_FALSE(Logged("T enumerate failed 0"));
}

TEST_F(WmiSequence, TheWalkSkipsMissingObjectsAndEndsWhereItMust) {
  ExpectWalk(
      "a failed query", [](FakeResults& r) { r.FailExecQuery(); }, true, QueryStatus::kQueryFailed, {},
      "  T enumerate failed 0", "T finished");
  ExpectWalk(
      "a row without object is skipped",
      [](FakeResults& r) { r.AddRow(Named(L"before")).AddNullObject(1234).AddRow(Named(L"after")); }, true,
      QueryStatus::kCompleted, {L"before", L"after"}, "  T object null LastError:1234", "T next failed");
  ExpectWalk(
      "a failed Next ends the walk",
      [](FakeResults& r) {
        r.AddRow(Named(L"kept")).AddNextFailure(WBEM_E_TRANSPORT_FAILURE, 1, 31).AddRow(Named(L"no"));
      },
      true, QueryStatus::kNextFailed, {L"kept"},
      "  T next failed hres:" + std::to_string(static_cast<int>(WBEM_E_TRANSPORT_FAILURE)) + ", LastError:31",
      "T finished");
  ExpectWalk(
      "a count of zero ends it even when Next failed",
      [](FakeResults& r) { r.AddRow(Named(L"kept")).AddNextFailure(WBEM_E_FAILED, 0).AddRow(Named(L"no")); }, true,
      QueryStatus::kCompleted, {L"kept"}, "  T finished", "T object null");
  ExpectWalk(
      "without the result check only the count counts",
      [](FakeResults& r) { r.AddNextFailure(WBEM_E_FAILED, 1).AddRow(Named(L"read")); }, false, QueryStatus::kCompleted,
      {L"read"}, "  T finished", "T next failed");
}

TEST_F(WmiSequence, LogLinesGoAtTheirLevel) {
  SetLogLevel(1);
  fake_.Results().AddRow().Text(L"Name", L"row");
  fake_.Results(L"failing").FailExecQuery();
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
  const auto own_id = static_cast<uint32_t>(::GetCurrentProcessId());
  hk::wbem::QueryResult result;
  std::optional<std::wstring> own_name;
  VARTYPE id_type = VT_EMPTY, working_set_type = VT_EMPTY;
  std::optional<uint64_t> own_working_set;
  const auto com = hk::test::RunOnComThread([&] {
    wmi w;
    result = hk::wbem::RunQuery(hk::wbem::Open(w), L"SELECT * FROM Win32_Process", {}, {.pause_before_next = true},
                                [&](IWbemClassObject& row) {
                                  if (hk::wbem::Read<uint32_t>(row, L"ProcessId") != own_id) return;
                                  own_name = hk::wbem::Read<std::wstring>(row, L"Name");
                                  own_working_set = hk::wbem::Read<uint64_t>(row, L"WorkingSetSize");
                                  hk::unique_variant value;
                                  if (hk::wbem::GetProperty(row, L"ProcessId", value)) id_type = value.get().vt;
                                  if (hk::wbem::GetProperty(row, L"WorkingSetSize", value))
                                    working_set_type = value.get().vt;
                                });
  });
  EXPECT_EQ(result.status, hk::wbem::QueryStatus::kCompleted);
  EXPECT_GE(result.rows, 1u);
  EXPECT_EQ(own_name, L"wmi_tests.exe");
  // The mapping the reader relies on: uint32 as VT_I4, uint64 as text.
  EXPECT_EQ(id_type, VT_I4);
  EXPECT_EQ(working_set_type, VT_BSTR);
  EXPECT_TRUE(own_working_set.has_value());
  EXPECT_TRUE(com.outer_kept);
  EXPECT_TRUE(com.nothing_left);
}
