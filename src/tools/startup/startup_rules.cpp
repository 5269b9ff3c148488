#include "tools/startup/startup_rules.h"

#include <utility>

#include "core/text.h"

namespace hk::startup {

namespace {

constexpr size_t npos = std::wstring::npos;

bool Contains(std::wstring_view text, std::wstring_view part) { return text.find(part) != npos; }

template <typename Char>
Char AsciiLower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename View>
bool EqualsNoCaseImpl(View text, View keyword) {
  if (text.size() != keyword.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(keyword[i])) return false;
  }
  return true;
}

}  // namespace

std::wstring ExpandProgramFiles(std::wstring text, wchar_t drive) {
  const size_t first = text.find(L'%');
  if (first != npos) {
    text[first] = L'\\';
    const size_t second = text.find(L'%', first + 1);
    if (second != npos) text.erase(second, 1);
  }
  const size_t files = text.find(L"Files");
  if (files != npos) text.insert(files, 1, L' ');
  text = std::wstring(1, drive) + L":\\" + text;
  // The variable's own leading backslash now follows the drive's.
  text.erase(text.find(L'\\'), 1);
  return text;
}

std::wstring CleanCommandPath(std::wstring command, wchar_t drive) {
  if (!command.empty() && command.front() == L'"') command.erase(0, 1);
  if (Contains(command, L"%Program")) command = ExpandProgramFiles(std::move(command), drive);
  for (size_t pos = command.find(L"\\\\"); pos != npos; pos = command.find(L"\\\\", pos)) command.erase(pos, 1);
  const size_t exe = command.find(L".exe");
  if (exe != npos) command.resize(exe + 4);
  return command;
}

std::wstring ExecutablePart(std::wstring path) {
  const size_t exe = path.find(L".exe");
  if (exe != npos) path.resize(exe + 4);
  if (!path.empty() && path.front() == L'"') path.erase(0, 1);
  return path;
}

int ApprovedState(const std::vector<uint8_t>& data) {
  if (data.empty()) return 1;
  switch (data.front()) {
    case 1:
    case 3:
    case 5:
    case 7:
    case 9:
      return 0;
    default:
      return 1;
  }
}

const wchar_t* StartupType(std::wstring_view location) {
  return location == L"Startup" || location == L"Common Startup" ? L"Folder" : L"Registry";
}

PathRule ChoosePathRule(std::wstring_view startupType, std::wstring_view command) {
  const bool programFiles = Contains(command, L"%ProgramFiles");
  if (startupType == L"Registry" && Contains(command, L".exe") && !programFiles) return PathRule::kLookUp;
  if (programFiles) return PathRule::kLookUpProgramFiles;
  return PathRule::kName;
}

std::optional<std::wstring> WmiDescription(const std::wstring& lookedUp, const std::wstring& name) {
  if (lookedUp == kPathNotFound) return std::nullopt;
  if (lookedUp == kNoVersionInfo) return name;
  return lookedUp;
}

std::optional<std::wstring> RunValueDescription(const std::wstring& lookedUp, const std::wstring& valueName) {
  if (lookedUp == kPathNotFound) return std::nullopt;
  if (lookedUp == kNoVersionInfo || (!lookedUp.empty() && lookedUp.front() >= L'{')) return valueName;
  return lookedUp;
}

std::wstring ProfileFolderName(std::wstring_view user) {
  const size_t slash = user.rfind(L'\\');
  std::wstring name(slash == npos ? user : user.substr(slash + 1));
  if (name == L"LOCAL SERVICE") return L"LocalService";
  if (name == L"NETWORK SERVICE") return L"NetworkService";
  return name;
}

bool IsServiceAccountSid(std::wstring_view sid) { return !sid.empty() && sid.size() <= 12; }

size_t ChooseTranslation(const std::vector<Translation>& table, uint16_t userLanguage) {
  // Each try looks for the exact language first, then (when allowed) for
  // the first entry with the same primary language (its low 8 bits).
  const auto find = [&](uint16_t wanted, bool primary) -> std::optional<size_t> {
    for (size_t i = 0; i < table.size(); ++i) {
      if (table[i].language == wanted) return i;
    }
    if (primary) {
      for (size_t i = 0; i < table.size(); ++i) {
        if ((table[i].language & 0xFF) == (wanted & 0xFF)) return i;
      }
    }
    return std::nullopt;
  };
  for (const auto& [language, primary] :
       {std::pair<uint16_t, bool>{userLanguage, false}, {userLanguage, true}, {0, true}, {9, true}}) {
    if (const auto index = find(language, primary)) return *index;
  }
  return 0;
}

Json::Value StartupRowJson(const StartupRow& row) {
  Json::Value json(Json::objectValue);
  json["NAME"] = ToUtf8(row.name);
  json["DESCRIPTION"] = ToUtf8(row.description);
  json["LOCATION"] = ToUtf8(row.location);
  json["USER"] = ToUtf8(row.user);
  json["STATUS"] = row.enabled ? "Enabled" : "Disabled";
  json["STARTUP_TYPE"] = ToUtf8(row.startupType);
  return json;
}

bool EqualsNoCase(std::string_view text, std::string_view keyword) { return EqualsNoCaseImpl(text, keyword); }
bool EqualsNoCase(std::wstring_view text, std::wstring_view keyword) { return EqualsNoCaseImpl(text, keyword); }

std::string MemberText(const Json::Value& data, const char* key) {
  if (!data.isObject()) return std::string();
  const Json::Value& member = data[key];
  return member.isString() ? member.asString() : std::string();
}

void FinishListData(Json::Value& data, const std::string& webClientId) {
  if (!data.isObject()) data = Json::Value(Json::objectValue);
  if (!data.isMember("APPS_LIST") || data["APPS_LIST"].empty()) {
    data["APPS_LIST"] = "NO_APPS_FOUND";
  }
  data["WebClientID"] = webClientId;
}

void FillActionData(Json::Value& data, const std::string& webClientId, const std::string& action, int result) {
  if (!data.isObject()) data = Json::Value(Json::objectValue);
  data["WebClientID"] = webClientId;
  data["ACTION_NAME"] = action;
  data["ERROR_CODE"] = "0";
  data["ACTION_RESULT"] = result == 1 ? "Success" : "Failed";
}

}  // namespace hk::startup
