#include "infra/wmi_variant.h"

#include <cwchar>
#include <limits>
#include <type_traits>

namespace hk::wbem {

bool GetProperty(IWbemClassObject& object, const wchar_t* name, unique_variant& value, CIMTYPE* cim_type) {
  const HRESULT hr = object.Get(name, 0, value.put(), cim_type, nullptr);
  if (FAILED(hr)) {
    value.reset();
    return false;
  }
  return true;
}

namespace {

// Whole decimal text only: WMI writes 64-bit values without blanks or signs
// other than a leading minus.
template <typename T>
std::optional<T> ParseDecimal(const VARIANT& value) {
  if (value.vt != VT_BSTR || !value.bstrVal) return std::nullopt;
  const wchar_t* text = value.bstrVal;
  const bool negative = *text == L'-';
  if (negative) {
    if constexpr (std::numeric_limits<T>::is_signed) {
      ++text;
    } else {
      return std::nullopt;
    }
  }
  if (*text == L'\0') return std::nullopt;
  // Accumulate as a negative number for signed types so the minimum fits.
  using Wide = std::conditional_t<std::numeric_limits<T>::is_signed, int64_t, uint64_t>;
  Wide result = 0;
  for (; *text; ++text) {
    if (*text < L'0' || *text > L'9') return std::nullopt;
    const Wide digit = static_cast<Wide>(*text - L'0');
    if constexpr (std::numeric_limits<T>::is_signed) {
      if (result < (std::numeric_limits<Wide>::min() + digit) / 10) return std::nullopt;
      result = result * 10 - digit;
    } else {
      if (result > (std::numeric_limits<Wide>::max() - digit) / 10) return std::nullopt;
      result = result * 10 + digit;
    }
  }
  if constexpr (std::numeric_limits<T>::is_signed) {
    if (!negative) {
      if (result == std::numeric_limits<Wide>::min()) return std::nullopt;
      result = -result;
    }
  }
  return static_cast<T>(result);
}

}  // namespace

template <>
std::optional<std::wstring> As<std::wstring>(const VARIANT& value) {
  if (value.vt != VT_BSTR) return std::nullopt;
  if (!value.bstrVal) return std::wstring();
  return std::wstring(value.bstrVal, ::SysStringLen(value.bstrVal));
}

template <>
std::optional<bool> As<bool>(const VARIANT& value) {
  if (value.vt != VT_BOOL) return std::nullopt;
  return value.boolVal != VARIANT_FALSE;
}

template <>
std::optional<int32_t> As<int32_t>(const VARIANT& value) {
  if (value.vt != VT_I4) return std::nullopt;
  return static_cast<int32_t>(value.lVal);
}

template <>
std::optional<uint32_t> As<uint32_t>(const VARIANT& value) {
  if (value.vt != VT_I4) return std::nullopt;
  return static_cast<uint32_t>(value.lVal);
}

template <>
std::optional<uint16_t> As<uint16_t>(const VARIANT& value) {
  if (value.vt != VT_I4 || value.lVal < 0 || value.lVal > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(value.lVal);
}

template <>
std::optional<int16_t> As<int16_t>(const VARIANT& value) {
  if (value.vt != VT_I2) return std::nullopt;
  return static_cast<int16_t>(value.iVal);
}

template <>
std::optional<uint8_t> As<uint8_t>(const VARIANT& value) {
  if (value.vt != VT_UI1) return std::nullopt;
  return static_cast<uint8_t>(value.bVal);
}

template <>
std::optional<int64_t> As<int64_t>(const VARIANT& value) {
  if (value.vt == VT_I8) return static_cast<int64_t>(value.llVal);
  return ParseDecimal<int64_t>(value);
}

template <>
std::optional<uint64_t> As<uint64_t>(const VARIANT& value) {
  if (value.vt == VT_UI8) return static_cast<uint64_t>(value.ullVal);
  return ParseDecimal<uint64_t>(value);
}

bool IsSet(const VARIANT& value) {
  if (value.vt == VT_BOOL) return value.boolVal != VARIANT_FALSE;
  unique_variant flag;
  VARIANT* out = flag.put();
  if (FAILED(::VariantChangeType(out, const_cast<VARIANT*>(&value), 0, VT_BOOL))) return false;
  return out->boolVal != VARIANT_FALSE;
}

}  // namespace hk::wbem
