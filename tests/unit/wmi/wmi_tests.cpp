// The COM set-up, connection and query against the fake WMI (the system's
// own is met end to end); reading a property's VARIANT as WMI fills it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "infra/win_resource.h"
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
using hk::wbem::As;
using hk::wbem::IsSet;
using hk::wbem::QueryStatus;

const hk::wbem::QueryTexts kTexts{{L"T enumerate failed %d"},
                                  {L"T next failed hres:%d, LastError:%d"},
                                  {L"T object null LastError:%d"},
                                  {L"T finished"}};
constexpr const wchar_t* kQuery = L"SELECT * FROM Win32_Thing";

FakeRow Named(const wchar_t* name) { return FakeRow().Text(L"Name", name); }

// A scalar variant: the members of its value all start at the same byte, so
// on this little-endian machine the narrow ones read the low bytes of bits.
VARIANT V(VARTYPE type, LONGLONG bits) {
  VARIANT v{};
  v.vt = type;
  v.llVal = bits;
  return v;
}
// What read makes of a BSTR variant holding text (a null BSTR for nullptr).
template <typename Read>
auto WithText(const wchar_t* text, Read read) {
  hk::unique_variant v;
  VARIANT* raw = v.put();
  raw->vt = VT_BSTR;
  raw->bstrVal = text ? ::SysAllocString(text) : nullptr;
  return read(v.get());
}

class WmiSequence : public hk::test::WmiLogTest {
 protected:
  // The sequence as the tools run it, on a thread of its own, collecting the
  // names read; every fake object must end released once, COM as found.
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
    EXPECT_TRUE(fake.DirtyVariants() == 0 && com.outer_kept && com.nothing_left);
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
    EXPECT_TRUE(result.status == QueryStatus::kCompleted && result.rows == 2u);
    EXPECT_EQ(names_, (std::vector<std::wstring>{L"one", L"two"}));
  }
  EXPECT_EQ(fake.connects(), std::vector<std::wstring>(2, L"ROOT\\CIMV2"));
  const std::vector<DWORD> blanket{
      RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, EOAC_NONE, 0, 0};
  EXPECT_EQ(fake.blankets(), std::vector<std::vector<DWORD>>(2, blanket));
  ASSERT_EQ(fake.queries().size(), 2u);
  for (const auto& q : fake.queries()) EXPECT_TRUE(q.language == L"WQL" && q.text == kQuery && q.flags == 0x30);
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
    EXPECT_TRUE(result.status == status && result.rows == names.size()) << name;
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
  fake.Results(L"failing").FailExecQuery();
  const hk::wbem::QueryTexts texts{{L"T level one enumerate", 1}, {}, {}, {L"T level two finished", 2}};
  wmi w;
  for (const wchar_t* query : {L"failing", kQuery})
    hk::wbem::RunQuery(hk::wbem::Open(w), query, texts, {}, [](IWbemClassObject&) {});
  EXPECT_TRUE(Logged("T level one enumerate")) << Log();
  EXPECT_FALSE(Logged("T level two finished"));
}

TEST(WmiVariant, TypedReadsFollowWmisMapping) {
  const VARIANT i4_5 = V(VT_I4, 5), i4_minus_1 = V(VT_I4, -1), i2 = V(VT_I2, -3);
  const VARIANT yes = V(VT_BOOL, VARIANT_TRUE), no = V(VT_BOOL, VARIANT_FALSE);
  const struct {
    const char* name;
    bool ok;
  } cases[] = {
      {"text from a BSTR", WithText(L"Administrator", As<std::wstring>) == L"Administrator"},
      {"a null BSTR is present but empty", WithText(nullptr, As<std::wstring>) == L""},
      {"text not from a number", !As<std::wstring>(i4_5)},
      {"uint32 above INT32_MAX arrives negative", As<uint32_t>(V(VT_I4, 0x80000200)) == 0x80000200u},
      {"uint32 and int32 from VT_I4 only", !As<uint32_t>(i2) && As<int32_t>(i4_minus_1) == -1 && !As<int32_t>(i2)},
      {"uint16 as VT_I4 in range",
       As<uint16_t>(V(VT_I4, 65535)) == 65535 && !As<uint16_t>(i4_minus_1) && !As<uint16_t>(V(VT_I4, 65536))},
      {"uint8 as VT_UI1 only", As<uint8_t>(V(VT_UI1, 200)) == 200 && !As<uint8_t>(i4_5)},
      {"int16 as VT_I2 only", As<int16_t>(i2) == -3 && !As<int16_t>(i4_minus_1)},
      {"bool as VT_BOOL only", As<bool>(yes) == true && As<bool>(no) == false && !As<bool>(i4_5)},
      {"uint64 largest", WithText(L"18446744073709551615", As<uint64_t>) == std::numeric_limits<uint64_t>::max()},
      {"uint64 one too many", !WithText(L"18446744073709551616", As<uint64_t>)},
      {"uint64 not from a sign, empty text or a blank",
       !WithText(L"-1", As<uint64_t>) && !WithText(L"", As<uint64_t>) && !WithText(L"12 ", As<uint64_t>)},
      {"int64 smallest", WithText(L"-9223372036854775808", As<int64_t>) == std::numeric_limits<int64_t>::min()},
      {"int64 one too many", !WithText(L"9223372036854775808", As<int64_t>)},
      {"set: true, 1, -1, 4, \"True\"",
       IsSet(yes) && IsSet(V(VT_I4, 1)) && IsSet(i4_minus_1) && IsSet(V(VT_UI1, 4)) && WithText(L"True", IsSet)},
      {"not set: false, 0", !IsSet(no) && !IsSet(V(VT_I4, 0))},
      {"not set: \"False\", other text", !WithText(L"False", IsSet) && !WithText(L"not a flag", IsSet)},
      {"not set: null, empty", !IsSet(V(VT_NULL, 0)) && !IsSet(V(VT_EMPTY, 0))},
  };
  for (const auto& c : cases) EXPECT_TRUE(c.ok) << c.name;
}
