// Reading a property's VARIANT the way WMI fills it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "infra/wmi_variant.h"
#include "support/fake_wmi.h"

namespace {

using hk::test::FakeVariant;
using hk::wbem::As;
using hk::wbem::IsSet;

template <typename Fill>
FakeVariant V(VARTYPE type, Fill fill) {
  FakeVariant v;
  v.mutable_get()->vt = type;
  fill(*v.mutable_get());
  return v;
}
FakeVariant I4(LONG x) {
  return V(VT_I4, [&](VARIANT& v) { v.lVal = x; });
}
FakeVariant I2(SHORT x) {
  return V(VT_I2, [&](VARIANT& v) { v.iVal = x; });
}
FakeVariant UI1(BYTE x) {
  return V(VT_UI1, [&](VARIANT& v) { v.bVal = x; });
}
FakeVariant Bool(bool x) {
  return V(VT_BOOL, [&](VARIANT& v) { v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; });
}
FakeVariant Text(const wchar_t* x) {
  return V(VT_BSTR, [&](VARIANT& v) { v.bstrVal = x ? ::SysAllocString(x) : nullptr; });
}
const FakeVariant kNull = V(VT_NULL, [](VARIANT&) {});
const FakeVariant kEmpty;

TEST(WmiVariant, TypedReadsFollowWmisMapping) {
  constexpr auto u64max = std::numeric_limits<uint64_t>::max();
  constexpr auto i64min = std::numeric_limits<int64_t>::min(), i64max = std::numeric_limits<int64_t>::max();
  const struct {
    const char* name;
    bool ok;
  } cases[] = {
      {"text from a BSTR", As<std::wstring>(Text(L"Administrator").get()) == L"Administrator"},
      {"a null BSTR is present but empty", As<std::wstring>(Text(nullptr).get()) == L""},
      {"text not from a number", !As<std::wstring>(I4(5).get())},
      {"text not from null", !As<std::wstring>(kNull.get())},
      {"uint32 as VT_I4", As<uint32_t>(I4(512).get()) == 512u},
      {"uint32 above INT32_MAX arrives negative",
       As<uint32_t>(I4(static_cast<LONG>(0x80000200u)).get()) == 0x80000200u},
      {"uint16 as VT_I4", As<uint16_t>(I4(65535).get()) == 65535},
      {"uint16 out of range", !As<uint16_t>(I4(65536).get()) && !As<uint16_t>(I4(-1).get())},
      {"uint32 not from VT_I2", !As<uint32_t>(I2(3).get())},
      {"int32 not from text", !As<int32_t>(Text(L"3").get())},
      {"uint8 as VT_UI1 only", As<uint8_t>(UI1(200).get()) == 200 && !As<uint8_t>(I4(200).get())},
      {"int16 as VT_I2 only", As<int16_t>(I2(-3).get()) == -3 && !As<int16_t>(I4(-3).get())},
      {"bool as VT_BOOL only",
       As<bool>(Bool(true).get()) == true && As<bool>(Bool(false).get()) == false && !As<bool>(I4(1).get())},
      {"uint64 largest", As<uint64_t>(Text(L"18446744073709551615").get()) == u64max},
      {"uint64 one too many", !As<uint64_t>(Text(L"18446744073709551616").get())},
      {"uint64 not negative", !As<uint64_t>(Text(L"-1").get())},
      {"uint64 not from empty text", !As<uint64_t>(Text(L"").get())},
      {"uint64 not with a blank", !As<uint64_t>(Text(L"12 ").get())},
      {"uint64 from VT_UI8", As<uint64_t>(V(VT_UI8, [](VARIANT& v) { v.ullVal = 42; }).get()) == 42u},
      {"int64 smallest", As<int64_t>(Text(L"-9223372036854775808").get()) == i64min},
      {"int64 largest", As<int64_t>(Text(L"9223372036854775807").get()) == i64max},
      {"int64 one too many", !As<int64_t>(Text(L"9223372036854775808").get())},
      {"set: true, 1, -1, 4, \"True\"", IsSet(Bool(true).get()) && IsSet(I4(1).get()) && IsSet(I4(-1).get()) &&
                                            IsSet(UI1(4).get()) && IsSet(Text(L"True").get())},
      {"not set: false, 0", !IsSet(Bool(false).get()) && !IsSet(I4(0).get())},
      {"not set: \"False\", other text", !IsSet(Text(L"False").get()) && !IsSet(Text(L"not a flag").get())},
      {"not set: null, empty", !IsSet(kNull.get()) && !IsSet(kEmpty.get())},
  };
  for (const auto& c : cases) EXPECT_TRUE(c.ok) << c.name;
}

}  // namespace
