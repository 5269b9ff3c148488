#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "infra/win_resource.h"
#include "infra/wmi_variant.h"

namespace {

using hk::wbem::As;
using hk::wbem::IsSet;

// A VARIANT for one test; the BSTR forms own their text.
class Value {
 public:
  Value() { ::VariantInit(&v_); }
  ~Value() { ::VariantClear(&v_); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  static Value I4(LONG x) {
    return Make(VT_I4, [&](VARIANT& v) { v.lVal = x; });
  }
  static Value I2(SHORT x) {
    return Make(VT_I2, [&](VARIANT& v) { v.iVal = x; });
  }
  static Value UI1(BYTE x) {
    return Make(VT_UI1, [&](VARIANT& v) { v.bVal = x; });
  }
  static Value Bool(bool x) {
    return Make(VT_BOOL, [&](VARIANT& v) { v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; });
  }
  static Value Text(const wchar_t* x) {
    return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = ::SysAllocString(x); });
  }
  static Value NullBstr() {
    return Make(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; });
  }
  static Value Null() {
    return Make(VT_NULL, [](VARIANT&) {});
  }
  static Value Empty() {
    return Make(VT_EMPTY, [](VARIANT&) {});
  }
  static Value UI8(ULONGLONG x) {
    return Make(VT_UI8, [&](VARIANT& v) { v.ullVal = x; });
  }
  const VARIANT& get() const { return v_; }

 private:
  Value(Value&& other) noexcept : v_(other.v_) { ::VariantInit(&other.v_); }
  template <typename Fill>
  static Value Make(VARTYPE type, Fill fill) {
    Value value;
    value.v_.vt = type;
    fill(value.v_);
    return value;
  }
  VARIANT v_;
};

TEST(WmiVariant, TextIsReadOnlyFromBstr) {
  EXPECT_EQ(As<std::wstring>(Value::Text(L"Administrator").get()), L"Administrator");
  EXPECT_EQ(As<std::wstring>(Value::NullBstr().get()), L"");  // present but empty
  EXPECT_EQ(As<std::wstring>(Value::I4(5).get()), std::nullopt);
  EXPECT_EQ(As<std::wstring>(Value::Null().get()), std::nullopt);
  EXPECT_EQ(As<std::wstring>(Value::Empty().get()), std::nullopt);
}

TEST(WmiVariant, ThirtyTwoAndSixteenBitUnsignedArriveAsI4) {
  EXPECT_EQ(As<uint32_t>(Value::I4(512).get()), 512u);
  // A uint32 above INT32_MAX comes through VT_I4 as a negative number.
  EXPECT_EQ(As<uint32_t>(Value::I4(static_cast<LONG>(0x80000200u)).get()), 0x80000200u);
  EXPECT_EQ(As<int32_t>(Value::I4(-7).get()), -7);
  EXPECT_EQ(As<uint16_t>(Value::I4(65535).get()), 65535);
  EXPECT_EQ(As<uint16_t>(Value::I4(65536).get()), std::nullopt);
  EXPECT_EQ(As<uint16_t>(Value::I4(-1).get()), std::nullopt);
  EXPECT_EQ(As<uint32_t>(Value::I2(3).get()), std::nullopt);
  EXPECT_EQ(As<int32_t>(Value::Text(L"3").get()), std::nullopt);
  EXPECT_EQ(As<uint32_t>(Value::Null().get()), std::nullopt);
}

TEST(WmiVariant, SmallTypesKeepTheirOwnVariantTypes) {
  EXPECT_EQ(As<uint8_t>(Value::UI1(200).get()), 200);
  EXPECT_EQ(As<uint8_t>(Value::I4(200).get()), std::nullopt);
  EXPECT_EQ(As<int16_t>(Value::I2(-3).get()), -3);
  EXPECT_EQ(As<int16_t>(Value::I4(-3).get()), std::nullopt);
  EXPECT_EQ(As<bool>(Value::Bool(true).get()), true);
  EXPECT_EQ(As<bool>(Value::Bool(false).get()), false);
  EXPECT_EQ(As<bool>(Value::I4(1).get()), std::nullopt);
}

TEST(WmiVariant, SixtyFourBitValuesAreDecimalText) {
  EXPECT_EQ(As<uint64_t>(Value::Text(L"18446744073709551615").get()), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(As<uint64_t>(Value::Text(L"18446744073709551616").get()), std::nullopt);  // one too many
  EXPECT_EQ(As<uint64_t>(Value::Text(L"0").get()), 0u);
  EXPECT_EQ(As<uint64_t>(Value::Text(L"-1").get()), std::nullopt);
  EXPECT_EQ(As<uint64_t>(Value::Text(L"").get()), std::nullopt);
  EXPECT_EQ(As<uint64_t>(Value::Text(L"12 ").get()), std::nullopt);
  EXPECT_EQ(As<uint64_t>(Value::UI8(42).get()), 42u);
  EXPECT_EQ(As<int64_t>(Value::Text(L"-9223372036854775808").get()), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(As<int64_t>(Value::Text(L"9223372036854775807").get()), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(As<int64_t>(Value::Text(L"9223372036854775808").get()), std::nullopt);
  EXPECT_EQ(As<int64_t>(Value::Text(L"-").get()), std::nullopt);
  EXPECT_EQ(As<int64_t>(Value::I4(5).get()), std::nullopt);
}

TEST(WmiVariant, AnyNonZeroValueIsSet) {
  EXPECT_TRUE(IsSet(Value::Bool(true).get()));
  EXPECT_FALSE(IsSet(Value::Bool(false).get()));
  EXPECT_TRUE(IsSet(Value::I4(1).get()));
  EXPECT_TRUE(IsSet(Value::I4(-1).get()));
  EXPECT_FALSE(IsSet(Value::I4(0).get()));
  EXPECT_TRUE(IsSet(Value::UI1(4).get()));
  EXPECT_TRUE(IsSet(Value::Text(L"True").get()));
  EXPECT_FALSE(IsSet(Value::Text(L"False").get()));
  EXPECT_FALSE(IsSet(Value::Text(L"not a flag").get()));
  EXPECT_FALSE(IsSet(Value::Null().get()));
  EXPECT_FALSE(IsSet(Value::Empty().get()));
}

}  // namespace
