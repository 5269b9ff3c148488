// The COM set-up, connection and query procedure against the fake WMI.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "infra/wmi.h"
#include "infra/wmi_query.h"
#include "infra/wmi_variant.h"
#include "support/fake_wmi.h"
#include "wmi/wmi_test_support.h"

namespace {

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
  // The whole sequence on a local wmi, as the inventory tools run it; the
  // names of the rows read are collected.
  hk::wbem::QueryResult Run(const hk::wbem::QueryOptions& options = {}) {
    wmi w;
    return hk::wbem::RunQuery(hk::wbem::Open(w), kQuery, kTexts, options,
        [&](IWbemClassObject& row) { names_.push_back(hk::wbem::Read<std::wstring>(row, L"Name").value_or(L"?")); });
  }

  FakeWmi fake_;
  std::vector<std::wstring> names_;
};

TEST_F(WmiSequence, ConnectsQueriesAndReleasesEverythingOnce) {
  fake_.Results().AddRow().Text(L"Name", L"one");
  fake_.Results().AddRow().Text(L"Name", L"two");
  hk::wbem::QueryResult result;
  const auto com = hk::test::RunOnComThread([&] { result = Run(); });

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
  for (LONG timeout : fake_.next_timeouts()) EXPECT_EQ(timeout, static_cast<LONG>(WBEM_INFINITE));
  EXPECT_EQ(fake_.next_timeouts().size(), 3u);  // two rows and the end

  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
  EXPECT_EQ(fake_.DirtyVariants(), 0);
  EXPECT_TRUE(Logged("T finished"));
  EXPECT_TRUE(com.outer_kept);
  EXPECT_TRUE(com.nothing_left);
}

// Each failing step logs its line, releases what it had, leaves COM once, and
// the steps after it touch nothing.
struct FailureCase {
  FakeWmiStep step;
  const char* line;
  int connects;
  int blankets;
};

class WmiSetupFailure : public WmiSequence, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(WmiSetupFailure, StopsTheSequenceThere) {
  fake_.Results().AddRow().Text(L"Name", L"never read");
  fake_.Fail(GetParam().step, E_ACCESSDENIED);
  hk::wbem::QueryResult result;
  const auto com = hk::test::RunOnComThread([&] { result = Run(); });

  EXPECT_EQ(result.status, QueryStatus::kNotConnected);
  EXPECT_EQ(result.rows, 0u);
  EXPECT_TRUE(Logged(GetParam().line)) << Log();
  EXPECT_EQ(static_cast<int>(fake_.connects().size()), GetParam().connects);
  EXPECT_EQ(static_cast<int>(fake_.blankets().size()), GetParam().blankets);
  EXPECT_TRUE(fake_.queries().empty());
  EXPECT_FALSE(Logged("T enumerate failed 0"));
  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
  EXPECT_TRUE(com.outer_kept);
  EXPECT_TRUE(com.nothing_left);
}

INSTANTIATE_TEST_SUITE_P(Steps, WmiSetupFailure,
                         ::testing::Values(FailureCase{FakeWmiStep::kCreateLocator,
                                                       "Failed(CoCreateInstance) in -> ||wmi::create_instance||", 0, 0},
                                           FailureCase{FakeWmiStep::kConnectServer,
                                                       "Failed(ConnectServer) in -> ||wmi::connect||", 1, 0},
                                           FailureCase{FakeWmiStep::kSetBlanket,
                                                       "Failed(CoSetProxyBlanket) in -> ||wmi::security||", 1, 1}));

TEST_F(WmiSequence, FailedQueryLogsAndReleases) {
  fake_.Results(kQuery).FailExecQuery();
  fake_.Results().AddRow().Text(L"Name", L"other query's row");
  hk::wbem::QueryResult result;
  const auto com = hk::test::RunOnComThread([&] {
    ::SetLastError(0);
    result = Run();
  });
  EXPECT_EQ(result.status, QueryStatus::kQueryFailed);
  EXPECT_TRUE(names_.empty());
  EXPECT_TRUE(Logged("T enumerate failed 0")) << Log();
  EXPECT_FALSE(Logged("T finished"));
  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
  EXPECT_TRUE(com.outer_kept);
  EXPECT_TRUE(com.nothing_left);
}

TEST_F(WmiSequence, RowWithoutObjectIsSkippedAndTheWalkGoesOn) {
  fake_.Results().AddRow().Text(L"Name", L"before");
  fake_.Results().AddNullObject(1234);
  fake_.Results().AddRow().Text(L"Name", L"after");
  const auto result = Run();
  EXPECT_EQ(result.status, QueryStatus::kCompleted);
  EXPECT_EQ(result.rows, 2u);
  EXPECT_EQ(names_, (std::vector<std::wstring>{L"before", L"after"}));
  EXPECT_TRUE(Logged("T object null LastError:1234")) << Log();
  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
}

TEST_F(WmiSequence, FailedNextEndsTheWalkKeepingEarlierRows) {
  fake_.Results().AddRow().Text(L"Name", L"kept");
  fake_.Results().AddNextFailure(WBEM_E_TRANSPORT_FAILURE, 1, 31);
  fake_.Results().AddRow().Text(L"Name", L"not reached");
  const auto result = Run();
  EXPECT_EQ(result.status, QueryStatus::kNextFailed);
  EXPECT_EQ(names_, std::vector<std::wstring>{L"kept"});
  EXPECT_TRUE(
      Logged("T next failed hres:" + std::to_string(static_cast<int>(WBEM_E_TRANSPORT_FAILURE)) + ", LastError:31"))
      << Log();
  EXPECT_FALSE(Logged("T finished"));
  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
}

TEST_F(WmiSequence, ACountOfZeroEndsTheWalkEvenWhenNextFailed) {
  fake_.Results().AddRow().Text(L"Name", L"kept");
  fake_.Results().AddNextFailure(WBEM_E_FAILED, 0);
  fake_.Results().AddRow().Text(L"Name", L"not reached");
  const auto result = Run();
  EXPECT_EQ(result.status, QueryStatus::kCompleted);
  EXPECT_EQ(names_, std::vector<std::wstring>{L"kept"});
  EXPECT_TRUE(Logged("T finished"));
  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
}

TEST_F(WmiSequence, WithoutTheResultCheckOnlyTheCountCounts) {
  fake_.Results().AddNextFailure(WBEM_E_FAILED, 1);  // a count without an object: skipped
  fake_.Results().AddRow().Text(L"Name", L"read");
  const auto result = Run({.pause_before_next = true, .stop_on_failed_next = false});
  EXPECT_EQ(result.status, QueryStatus::kCompleted);
  EXPECT_EQ(names_, std::vector<std::wstring>{L"read"});
  EXPECT_EQ(Log().find("T next failed"), std::string::npos);
  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
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
  EXPECT_TRUE(com.outer_kept);
  EXPECT_TRUE(com.nothing_left);
}

TEST_F(WmiSequence, ASecondRequestRunsTheWholeSequenceAgain) {
  fake_.Results().AddRow().Text(L"Name", L"row");
  // Process security can be set once: Windows refuses the second call
  // (RPC_E_TOO_LATE), Wine accepts every call. Either way the refusal is only
  // logged and the request goes on.
  for (int request = 0; request < 2; ++request) {
    wmi w;
    hk::wbem::RunQuery(hk::wbem::Open(w), kQuery, kTexts, {}, [&](IWbemClassObject& row) {
      names_.push_back(hk::wbem::Read<std::wstring>(row, L"Name").value_or(L"?"));
    });
  }
  EXPECT_EQ(fake_.locators_made(), 2);
  EXPECT_EQ(fake_.connects().size(), 2u);
  EXPECT_EQ(names_, (std::vector<std::wstring>{L"row", L"row"}));
  // Wine accepts every CoInitializeSecurity call; Windows refuses the second.
  EXPECT_LE(Count("Failed(CoInitializeSecurity) in -> ||wmi::ini_com()|| "), 1) << Log();
  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
}

TEST_F(WmiSequence, LogLinesGoAtTheirLevel) {
  fake_.Results().AddRow().Text(L"Name", L"row");
  SetLogLevel(1);
  const hk::wbem::QueryTexts texts{{L"T level one enumerate", 1}, {}, {}, {L"T level two finished", 2}};
  fake_.Results(L"failing").FailExecQuery();
  wmi w;
  for (const wchar_t* query : {L"failing", kQuery}) {
    hk::wbem::RunQuery(hk::wbem::Open(w), query, texts, {}, [](IWbemClassObject&) {});
  }
  EXPECT_TRUE(Logged("T level one enumerate")) << Log();
  EXPECT_FALSE(Logged("T level two finished"));
}

TEST_F(WmiSequence, PropertiesReadThroughTheFakeFollowWmiTypes) {
  fake_.Results()
      .AddRow()
      .Text(L"Caption", L"c")
      .Int32(L"Availability", 3, CIM_UINT16)
      .UInt8(L"SIDType", 4)
      .UInt64(L"Capacity", 5000000000ull)
      .Null(L"InstallDate", CIM_DATETIME)
      .Bool(L"Shared", true);
  bool checked = false;
  wmi w;
  hk::wbem::RunQuery(hk::wbem::Open(w), kQuery, kTexts, {}, [&](IWbemClassObject& row) {
    EXPECT_EQ(hk::wbem::Read<std::wstring>(row, L"caption"), L"c");  // names ignore case, as in WMI
    EXPECT_EQ(hk::wbem::Read<uint16_t>(row, L"Availability"), 3);
    EXPECT_EQ(hk::wbem::Read<uint8_t>(row, L"SIDType"), 4);
    EXPECT_EQ(hk::wbem::Read<uint64_t>(row, L"Capacity"), 5000000000ull);
    EXPECT_EQ(hk::wbem::Read<std::wstring>(row, L"InstallDate"), std::nullopt);
    EXPECT_EQ(hk::wbem::Read<bool>(row, L"Shared"), true);
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
  EXPECT_TRUE(fake_.AllReleasedOnce()) << fake_.Accounting();
}

}  // namespace
