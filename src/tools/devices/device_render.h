// The pure part of the device tool: request texts, escaped identifiers, the
// device action program's command line, property values and verdicts.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <json/value.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace hk::devices {

// Class description (UTF-8) -> class GUID in braces; sorted by the bytes of
// the description, one entry per description.
using DeviceClasses = std::map<std::string, std::wstring>;

// The Win32_PnPEntity properties of a device's details, in answer order.
// clang-format off
inline constexpr const wchar_t* kDeviceProperties[] = {
    L"Availability", L"Caption", L"ClassGuid", L"CompatibleID", L"ConfigManagerErrorCode",
    L"ConfigManagerUserConfig", L"CreationClassName", L"Description", L"DeviceID", L"ErrorCleared",
    L"ErrorDescription", L"HardwareID", L"InstallDate", L"LastErrorCode", L"Manufacturer", L"Name", L"PNPClass",
    L"PNPDeviceID", L"PowerManagementCapabilities", L"PowerManagementSupported", L"Present", L"Service", L"Status",
    L"StatusInfo", L"SystemCreationClassName", L"SystemName"};
// clang-format on

// ASCII letters compared without regard to case; nothing else folds.
bool SameKeyword(std::string_view text, std::string_view keyword);
// Texts of Windows (identifiers, status words) compared without regard to case.
bool SameText(std::wstring_view a, std::wstring_view b);

// A member of the request data as text; empty when absent or not a string.
std::string RequestText(const Json::Value& data, const char* key);

// "DEVMGR_SLASH" -> "\", then "DEVMGR_OPEN" -> "{", then "DEVMGR_CLOSE" -> "}".
std::wstring UnescapeDeviceId(std::wstring text);
// The brace tokens only.
std::wstring UnescapeClassGuid(std::wstring text);

// "<parent of the host's folder>\bin\" for the host executable's full path.
std::wstring DevExeFolder(std::wstring hostPath);
const wchar_t* DevExeName(bool wow64);
// " <class GUID> <device id> " and the action's words; a value holding a
// blank is quoted. An unknown action adds nothing.
std::wstring DevExeArguments(std::string_view action, const std::wstring& classGuid, const std::wstring& deviceId);
// ENABLE with the status "OK", or DISABLE with any other status.
bool ActionSucceeded(std::string_view action, std::wstring_view status);

// A details row's value: Availability (CIM uint16) by name (empty outside 1..21), any other
// property only as CIM string; nothing for a null value or another type.
std::optional<std::string> PropertyValue(std::wstring_view name, const VARIANT& value, CIMTYPE type);

Json::Value ClassRowsJson(const DeviceClasses& classes);
Json::Value MemberRow(const std::wstring& deviceId, const std::wstring& name);
Json::Value PropertyRow(std::wstring_view name, const std::string& value);
// rows when it is an array with something in it, else the marker text.
Json::Value RowsOrMarker(const Json::Value& rows, const char* marker);

}  // namespace hk::devices
