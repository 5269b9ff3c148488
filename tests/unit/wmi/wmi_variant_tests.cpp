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

// A scalar variant: the members of its value all start at the same byte, so
// on this little-endian machine the narrow ones read the low bytes of bits.
VARIANT V(VARTYPE type, LONGLONG bits) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = type;
  v.llVal = bits;
  return v;
}
FakeVariant Text(const wchar_t* x) {
  FakeVariant v;
  v.mutable_get()->vt = VT_BSTR;
  v.mutable_get()->bstrVal = x ? ::SysAllocString(x) : nullptr;
  return v;
}

TEST(WmiVariant, TypedReadsFollowWmisMapping) {
  const VARIANT i4_5 = V(VT_I4, 5), i4_minus_1 = V(VT_I4, -1), i2 = V(VT_I2, -3);
  const VARIANT yes = V(VT_BOOL, VARIANT_TRUE), no = V(VT_BOOL, VARIANT_FALSE);
  const struct {
    const char* name;
    bool ok;
  } cases[] = {
      {"text from a BSTR", As<std::wstring>(Text(L"Administrator").get()) == L"Administrator"},
      {"a null BSTR is present but empty", As<std::wstring>(Text(nullptr).get()) == L""},
      {"text not from a number", !As<std::wstring>(i4_5)},
      {"uint32 above INT32_MAX arrives negative", As<uint32_t>(V(VT_I4, 0x80000200)) == 0x80000200u},
      {"uint32 and int32 from VT_I4 only", !As<uint32_t>(i2) && As<int32_t>(i4_minus_1) == -1 && !As<int32_t>(i2)},
      {"uint16 as VT_I4 in range",
       As<uint16_t>(V(VT_I4, 65535)) == 65535 && !As<uint16_t>(i4_minus_1) && !As<uint16_t>(V(VT_I4, 65536))},
      {"uint8 as VT_UI1 only", As<uint8_t>(V(VT_UI1, 200)) == 200 && !As<uint8_t>(i4_5)},
      {"int16 as VT_I2 only", As<int16_t>(i2) == -3 && !As<int16_t>(i4_minus_1)},
      {"bool as VT_BOOL only", As<bool>(yes) == true && As<bool>(no) == false && !As<bool>(i4_5)},
      {"uint64 largest", As<uint64_t>(Text(L"18446744073709551615").get()) == std::numeric_limits<uint64_t>::max()},
      {"uint64 one too many", !As<uint64_t>(Text(L"18446744073709551616").get())},
      {"uint64 not negative", !As<uint64_t>(Text(L"-1").get())},
      {"uint64 not from empty text", !As<uint64_t>(Text(L"").get())},
      {"uint64 not with a blank", !As<uint64_t>(Text(L"12 ").get())},
      {"uint64 from VT_UI8", As<uint64_t>(V(VT_UI8, 42)) == 42u},
      {"int64 smallest", As<int64_t>(Text(L"-9223372036854775808").get()) == std::numeric_limits<int64_t>::min()},
      {"int64 largest", As<int64_t>(Text(L"9223372036854775807").get()) == std::numeric_limits<int64_t>::max()},
      {"int64 one too many", !As<int64_t>(Text(L"9223372036854775808").get())},
      {"set: true, 1, -1, 4, \"True\"",
       IsSet(yes) && IsSet(V(VT_I4, 1)) && IsSet(i4_minus_1) && IsSet(V(VT_UI1, 4)) && IsSet(Text(L"True").get())},
      {"not set: false, 0", !IsSet(no) && !IsSet(V(VT_I4, 0))},
      {"not set: \"False\", other text", !IsSet(Text(L"False").get()) && !IsSet(Text(L"not a flag").get())},
      {"not set: null, empty", !IsSet(V(VT_NULL, 0)) && !IsSet(V(VT_EMPTY, 0))},
  };
  for (const auto& c : cases) EXPECT_TRUE(c.ok) << c.name;
}

}  // namespace
