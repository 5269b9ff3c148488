// The sequence against the system's own WMI (Wine's in the test prefix),
// through a class that has rows there.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "infra/wmi.h"
#include "infra/wmi_query.h"
#include "infra/wmi_variant.h"
#include "wmi/wmi_test_support.h"

namespace {

TEST(WmiReal, FindsThisProcessAmongWin32ProcessRows) {
  ASSERT_EQ(hk::wbem::g_locatorFactory, &hk::wbem::CreateSystemLocator);
  const auto own_id = static_cast<uint32_t>(::GetCurrentProcessId());
  hk::wbem::QueryResult result;
  std::optional<std::wstring> own_name;
  VARTYPE id_type = VT_EMPTY, working_set_type = VT_EMPTY;
  std::optional<uint64_t> own_working_set;
  const auto com = hk::test::RunOnComThread([&] {
    wmi w;
    result = hk::wbem::RunQuery(hk::wbem::Open(w), L"SELECT * FROM Win32_Process", {},
                                {.pause_before_next = true}, [&](IWbemClassObject& row) {
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

}  // namespace
