// The COM set-up, connection and query procedure against the fake WMI.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "infra/wmi.h"
#include "infra/wmi_query.h"
#include "infra/wmi_variant.h"
#include "support/fake_wmi.h"
#include "wmi/wmi_test_support.h"

namespace {

using hk::test::FakeResults;
using hk::test::FakeWmi;
using hk::test::FakeWmiStep;
using hk::wbem::QueryStatus;

const hk::wbem::QueryTexts kTexts{{L"T enumerate failed %d"},
                                  {L"T next failed hres:%d, LastError:%d"},
                                  {L"T object null LastError:%d"},
                                  {L"T finished"}};
constexpr const wchar_t* kQuery = L"SELECT * FROM Win32_Thing";

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
  const auto& connect = fake_.connects()[0];
  EXPECT_EQ(connect.resource, L"ROOT\\CIMV2");
  EXPECT_FALSE(connect.user || connect.password || connect.locale || connect.authority || connect.context);
  EXPECT_EQ(connect.flags, 0);
  ASSERT_EQ(fake_.blankets().size(), 1u);
  const auto& blanket = fake_.blankets()[0];
  EXPECT_EQ(blanket.authn_service, static_cast<DWORD>(RPC_C_AUTHN_WINNT));
  EXPECT_EQ(blanket.authz_service, static_cast<DWORD>(RPC_C_AUTHZ_NONE));
  EXPECT_EQ(blanket.authn_level, static_cast<DWORD>(RPC_C_AUTHN_LEVEL_CALL));
  EXPECT_EQ(blanket.imp_level, static_cast<DWORD>(RPC_C_IMP_LEVEL_IMPERSONATE));
  EXPECT_EQ(blanket.capabilities, static_cast<DWORD>(EOAC_NONE));
  EXPECT_FALSE(blanket.server_principal || blanket.auth_info);
  ASSERT_EQ(fake_.queries().size(), 1u);
  EXPECT_EQ(fake_.queries()[0].language, L"WQL");
  EXPECT_EQ(fake_.queries()[0].text, kQuery);
  EXPECT_EQ(fake_.queries()[0].flags, 0x30);
  EXPECT_FALSE(fake_.queries()[0].context);
  EXPECT_EQ(fake_.next_timeouts(), std::vector<LONG>(3, WBEM_INFINITE)) << "two rows and the end";
  EXPECT_TRUE(Logged("T finished"));
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
  const auto row = [](const wchar_t* name) { return [name](FakeResults& r) { r.AddRow().Text(L"Name", name); }; };
  const struct {
    const char* name;
    std::vector<std::function<void(FakeResults&)>> steps;
    bool stopOnFailedNext;
    QueryStatus status;
    std::vector<std::wstring> names;
    std::string line, absent;  // in the log of this case, and not
  } cases[] = {
      {"a failed query",
       {[](FakeResults& r) { r.FailExecQuery(); }},
       true,
       QueryStatus::kQueryFailed,
       {},
       "  T enumerate failed 0",
       "T finished"},
      {"a row without object is skipped",
       {row(L"before"), [](FakeResults& r) { r.AddNullObject(1234); }, row(L"after")},
       true,
       QueryStatus::kCompleted,
       {L"before", L"after"},
       "  T object null LastError:1234",
       "T next failed"},
      {"a failed Next ends the walk",
       {row(L"kept"), [](FakeResults& r) { r.AddNextFailure(WBEM_E_TRANSPORT_FAILURE, 1, 31); }, row(L"not reached")},
       true,
       QueryStatus::kNextFailed,
       {L"kept"},
       "  T next failed hres:" + std::to_string(static_cast<int>(WBEM_E_TRANSPORT_FAILURE)) + ", LastError:31",
       "T finished"},
      {"a count of zero ends it even when Next failed",
       {row(L"kept"), [](FakeResults& r) { r.AddNextFailure(WBEM_E_FAILED, 0); }, row(L"not reached")},
       true,
       QueryStatus::kCompleted,
       {L"kept"},
       "  T finished",
       "T object null"},
      {"without the result check only the count counts",
       {[](FakeResults& r) { r.AddNextFailure(WBEM_E_FAILED, 1); }, row(L"read")},
       false,
       QueryStatus::kCompleted,
       {L"read"},
       "  T finished",
       "T next failed"},
  };
  for (const auto& c : cases) {
    FakeWmi fake;
    for (const auto& step : c.steps) step(fake.Results(kQuery));
    fake.Results().AddRow().Text(L"Name", L"another query's row");
    names_.clear();
    const size_t logged = Log().size();
    const auto result = Run({.pause_before_next = true, .stop_on_failed_next = c.stopOnFailedNext});
    const std::string log = Log().substr(logged);
    EXPECT_EQ(result.status, c.status) << c.name;
    EXPECT_EQ(names_, c.names) << c.name;
    EXPECT_NE(log.find(c.line), std::string::npos) << c.name << ": " << log;
    EXPECT_EQ(log.find(c.absent), std::string::npos) << c.name << ": " << log;
    EXPECT_TRUE(fake.AllReleasedOnce()) << c.name << ": " << fake.Accounting();
  }
}

TEST_F(WmiSequence, ThrowingCallbackStillReleasesAndLeavesCom) {
  fake_.Results().AddRow().Text(L"Name", L"one");
  fake_.Results().AddRow().Text(L"Name", L"two");
  bool thrown = false;
  const auto com = hk::test::RunOnComThread([&] {
    wmi w;
    try {
      hk::wbem::RunQuery(hk::wbem::Open(w), kQuery, kTexts, {},
                         [](IWbemClassObject&) { throw std::runtime_error("row"); });
    } catch (const std::runtime_error&) {
      thrown = true;
    }
  });
  EXPECT_TRUE(thrown);
  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
  EXPECT_TRUE(com.outer_kept && com.nothing_left);
}

TEST_F(WmiSequence, ASecondRequestRunsTheWholeSequenceAgain) {
  fake_.Results().AddRow().Text(L"Name", L"row");
  Run();
  Run();
  EXPECT_EQ(fake_.locators_made(), 2);
  EXPECT_EQ(fake_.connects().size(), 2u);
  EXPECT_EQ(names_, (std::vector<std::wstring>{L"row", L"row"}));
  // Process security can be set once: Windows refuses the second call
  // (RPC_E_TOO_LATE), Wine accepts every call. Either way the refusal is only
  // logged and the request goes on.
  EXPECT_LE(Count("Failed(CoInitializeSecurity) in -> ||wmi::ini_com()|| "), 1) << Log();
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

TEST_F(WmiSequence, PropertiesReadThroughTheFakeFollowWmiTypes) {
  fake_.Results()
      .AddRow()
      .Text(L"Caption", L"c")
      .Int32(L"Availability", 3, CIM_UINT16)
      .UInt64(L"Capacity", 5000000000ull)
      .Null(L"InstallDate", CIM_DATETIME);
  bool checked = false;
  wmi w;
  hk::wbem::RunQuery(hk::wbem::Open(w), kQuery, kTexts, {}, [&](IWbemClassObject& row) {
    EXPECT_EQ(hk::wbem::Read<std::wstring>(row, L"caption"), L"c");  // names ignore case, as in WMI
    EXPECT_EQ(hk::wbem::Read<uint16_t>(row, L"Availability"), 3);
    EXPECT_EQ(hk::wbem::Read<uint64_t>(row, L"Capacity"), 5000000000ull);
    EXPECT_EQ(hk::wbem::Read<std::wstring>(row, L"InstallDate"), std::nullopt);
    EXPECT_EQ(hk::wbem::Read<std::wstring>(row, L"NoSuchProperty"), std::nullopt);
    hk::unique_variant value;
    CIMTYPE type = CIM_EMPTY;
    EXPECT_TRUE(hk::wbem::GetProperty(row, L"Availability", value, &type));
    EXPECT_EQ(type, CIM_UINT16);
    EXPECT_FALSE(hk::wbem::GetProperty(row, L"NoSuchProperty", value, &type));
    EXPECT_EQ(value.get().vt, VT_EMPTY);
    checked = true;
  });
  EXPECT_TRUE(checked);
  EXPECT_EQ(fake_.DirtyVariants(), 0);
}
