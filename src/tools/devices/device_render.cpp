#include "tools/devices/device_render.h"

#include "core/text.h"
#include "infra/wmi_variant.h"
#include "tools/printers/printer_render.h"

namespace hk::devices {
namespace {

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

void ReplaceAll(std::wstring& text, std::wstring_view token, std::wstring_view with) {
  for (size_t pos = text.find(token); pos != std::wstring::npos; pos = text.find(token, pos + with.size())) {
    text.replace(pos, token.size(), with);
  }
}

std::wstring QuotedWhenBlank(const std::wstring& value) {
  return value.find(L' ') == std::wstring::npos ? value : L"\"" + value + L"\"";
}

}  // namespace

bool SameKeyword(std::string_view text, std::string_view keyword) {
  if (text.size() != keyword.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (FoldAscii(text[i]) != FoldAscii(keyword[i])) return false;
  }
  return true;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::string RequestText(const Json::Value& data, const char* key) {
  if (!data.isObject()) return std::string();
  const Json::Value* member = data.find(key, key + std::char_traits<char>::length(key));
  return member && member->isString() ? member->asString() : std::string();
}

std::wstring UnescapeDeviceId(std::wstring text) {
  ReplaceAll(text, L"DEVMGR_SLASH", L"\\");
  return UnescapeClassGuid(std::move(text));
}

std::wstring UnescapeClassGuid(std::wstring text) {
  ReplaceAll(text, L"DEVMGR_OPEN", L"{");
  ReplaceAll(text, L"DEVMGR_CLOSE", L"}");
  return text;
}

std::wstring DevExeFolder(std::wstring hostPath) {
  // Less the file name, then less the last folder.
  for (int cut = 0; cut < 2; ++cut) {
    const size_t slash = hostPath.find_last_of(L'\\');
    if (slash == std::wstring::npos) break;
    hostPath.resize(slash);
  }
  return hostPath + L"\\bin\\";
}

const wchar_t* DevExeName(bool wow64) { return wow64 ? L"DevExe64.exe" : L"DevExe32.exe"; }

std::wstring DevExeArguments(std::string_view action, const std::wstring& classGuid, const std::wstring& deviceId) {
  std::wstring arguments = L" " + QuotedWhenBlank(classGuid) + L" " + QuotedWhenBlank(deviceId) + L" ";
  if (SameKeyword(action, "ENABLE")) {
    arguments += L"Change 1";
  } else if (SameKeyword(action, "DISABLE")) {
    arguments += L"Change 2";
  } else if (SameKeyword(action, "UNINSTALL")) {
    arguments += L"Uninstall";
  } else if (SameKeyword(action, "UPDATE")) {
    arguments += L"Update";
  }
  return arguments;
}

bool ActionSucceeded(std::string_view action, std::wstring_view status) {
  const bool ok = SameText(status, L"OK");
  return (SameKeyword(action, "ENABLE") && ok) || (SameKeyword(action, "DISABLE") && !ok);
}

std::optional<std::string> PropertyValue(std::wstring_view name, const VARIANT& value, CIMTYPE type) {
  if (value.vt == VT_NULL || value.vt == VT_EMPTY) return std::nullopt;
  if (name == L"Availability") {
    if (type != CIM_UINT16) return std::nullopt;
    const auto number = wbem::As<uint16_t>(value);
    if (!number) return std::nullopt;
    // The same names as a printer's availability.
    return std::string(printers::AvailabilityName(*number));
  }
  if (type != CIM_STRING) return std::nullopt;
  const auto text = wbem::As<std::wstring>(value);
  if (!text) return std::nullopt;
  return ToUtf8(*text);
}

Json::Value ClassRowsJson(const DeviceClasses& classes) {
  Json::Value rows(Json::arrayValue);
  for (const auto& [description, guid] : classes) {
    Json::Value row(Json::objectValue);
    row["DEVICE_NAME"] = description;
    row["DEVICE_GUID"] = ToUtf8(guid);
    rows.append(std::move(row));
  }
  return rows;
}

Json::Value MemberRow(const std::wstring& deviceId, const std::wstring& name) {
  Json::Value row(Json::objectValue);
  row["DEVICE_ID"] = ToUtf8(deviceId);
  row["NAME"] = ToUtf8(name);
  return row;
}

Json::Value PropertyRow(std::wstring_view name, const std::string& value) {
  Json::Value row(Json::objectValue);
  row["PROPERTY"] = ToUtf8(name);
  row["VALUE"] = value;
  return row;
}

Json::Value RowsOrMarker(const Json::Value& rows, const char* marker) {
  return rows.isArray() && !rows.empty() ? rows : Json::Value(marker);
}

}  // namespace hk::devices
