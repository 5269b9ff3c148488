// Reading a property's VARIANT the way WMI fills it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "infra/wmi_variant.h"
#include "infra/win_resource.h"

namespace {

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
// What read makes of a BSTR variant holding text (a null BSTR for nullptr).
template <typename Read>
auto WithText(const wchar_t* text, Read read) {
  hk::unique_variant v;
  VARIANT* raw = v.put();
  raw->vt = VT_BSTR;
  raw->bstrVal = text ? ::SysAllocString(text) : nullptr;
  return read(v.get());
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
      {"uint64 not negative", !WithText(L"-1", As<uint64_t>)},
      {"uint64 not from empty text", !WithText(L"", As<uint64_t>)},
      {"uint64 not with a blank", !WithText(L"12 ", As<uint64_t>)},
      {"uint64 from VT_UI8", As<uint64_t>(V(VT_UI8, 42)) == 42u},
      {"int64 smallest", WithText(L"-9223372036854775808", As<int64_t>) == std::numeric_limits<int64_t>::min()},
      {"int64 largest", WithText(L"9223372036854775807", As<int64_t>) == std::numeric_limits<int64_t>::max()},
      {"int64 one too many", !WithText(L"9223372036854775808", As<int64_t>)},
      {"set: true, 1, -1, 4, \"True\"",
       IsSet(yes) && IsSet(V(VT_I4, 1)) && IsSet(i4_minus_1) && IsSet(V(VT_UI1, 4)) && WithText(L"True", IsSet)},
      {"not set: false, 0", !IsSet(no) && !IsSet(V(VT_I4, 0))},
      {"not set: \"False\", other text", !WithText(L"False", IsSet) && !WithText(L"not a flag", IsSet)},
      {"not set: null, empty", !IsSet(V(VT_NULL, 0)) && !IsSet(V(VT_EMPTY, 0))},
  };
  for (const auto& c : cases) EXPECT_TRUE(c.ok) << c.name;
}

}  // namespace
