// Reading WMI properties. WMI hands CIM types over in fewer VARIANT types than
// one would guess: sint32, uint32 and uint16 arrive as VT_I4, sint16 and sint8
// as VT_I2, uint8 as VT_UI1, boolean as VT_BOOL, string and datetime as
// VT_BSTR, and 64-bit integers as decimal text in VT_BSTR. A property without
// a value is VT_NULL. Read<T> knows this mapping; anything else is absent.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "infra/win_resource.h"

namespace hk::wbem {

// Get with flags 0 into value (cleared first). False when the call failed;
// the value is then empty. cim_type, when given, receives the CIM type.
bool GetProperty(IWbemClassObject& object, const wchar_t* name, unique_variant& value, CIMTYPE* cim_type = nullptr);

// The value as T when the variant has the type WMI uses for T; nullopt for
// VT_EMPTY, VT_NULL, a different type or a value out of T's range.
//   std::wstring: VT_BSTR (a null BSTR is the empty text)
//   bool: VT_BOOL
//   int32_t, uint32_t, uint16_t: VT_I4 (uint32 keeps its bits)
//   int16_t: VT_I2;  uint8_t: VT_UI1
//   int64_t, uint64_t: VT_BSTR decimal text, or VT_I8 / VT_UI8
template <typename T>
std::optional<T> As(const VARIANT& value);

template <>
std::optional<std::wstring> As<std::wstring>(const VARIANT& value);
template <>
std::optional<bool> As<bool>(const VARIANT& value);
template <>
std::optional<int32_t> As<int32_t>(const VARIANT& value);
template <>
std::optional<uint32_t> As<uint32_t>(const VARIANT& value);
template <>
std::optional<uint16_t> As<uint16_t>(const VARIANT& value);
template <>
std::optional<int16_t> As<int16_t>(const VARIANT& value);
template <>
std::optional<uint8_t> As<uint8_t>(const VARIANT& value);
template <>
std::optional<int64_t> As<int64_t>(const VARIANT& value);
template <>
std::optional<uint64_t> As<uint64_t>(const VARIANT& value);

// Get and As in one: nullopt when the call failed or the value is not a T.
template <typename T>
std::optional<T> Read(IWbemClassObject& object, const wchar_t* name) {
  unique_variant value;
  if (!GetProperty(object, name, value)) return std::nullopt;
  return As<T>(value.get());
}

// Whether a value of any type counts as set, by the system's own conversion
// to a flag (non-zero numbers, true, "True"); a value that does not convert,
// VT_NULL among them, is not set.
bool IsSet(const VARIANT& value);

}  // namespace hk::wbem
