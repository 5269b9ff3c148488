// Tool 15's plain rules: how a startup command becomes a path, which
// description a row shows, what an approval value's first byte means, which
// translation of a version resource is read, and the JSON the tool answers.
// Nothing here calls Windows.
#pragma once
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hk::startup {

inline constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kApprovedRun[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
inline constexpr wchar_t kApprovedRun32[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
inline constexpr wchar_t kApprovedStartupFolder[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\StartupFolder";
// Fixed, not looked up: the removal deletes shortcuts only from here.
inline constexpr wchar_t kCommonStartupFolder[] =
    L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\";

// What getFileDescription answers when it found no description.
inline constexpr wchar_t kPathNotFound[] = L"PATH_NOT_FOUND";
inline constexpr wchar_t kNoVersionInfo[] = L"NULL";

inline constexpr uint8_t kEnableBytes[5] = {0x02, 0, 0, 0, 0};
inline constexpr uint8_t kDisableBytes[5] = {0x03, 0, 0, 0, 0};

// %ProgramFiles%\Vendor\app.exe -> C:\Program Files\Vendor\app.exe with the
// system drive letter; %ProgramFiles(x86)% gets no blank before "(x86)".
std::wstring ExpandProgramFiles(std::wstring text, wchar_t drive);
// The executable path of a command: no leading quote, %ProgramFiles expanded,
// doubled backslashes collapsed, nothing after ".exe".
std::wstring CleanCommandPath(std::wstring command, wchar_t drive);
// What the version lookup opens: nothing after ".exe", no leading quote.
std::wstring ExecutablePart(std::wstring path);

// 1 enabled, 0 disabled, by the first byte of an approval value: odd bytes
// up to 9 disable. An empty value enables.
int ApprovedState(const std::vector<uint8_t>& data);

// "Folder" for the two startup folders WMI names, else "Registry".
const wchar_t* StartupType(std::wstring_view location);

// How a WMI row's path and description are found.
enum class PathRule {
  kLookUp,              // a registry command naming an .exe: its version resource
  kLookUpProgramFiles,  // a command with %ProgramFiles: the expanded path's version resource
  kName,                // anything else: the row's name, no lookup
};
PathRule ChoosePathRule(std::wstring_view startupType, std::wstring_view command);

// The description a looked-up row shows: nullopt (no row) for a file without
// version information, the name for one that could not be read.
std::optional<std::wstring> WmiDescription(const std::wstring& lookedUp, const std::wstring& name);
// The same for a Run value read directly; a description starting at "{" or
// above (a GUID, or text that is not plain ASCII) also shows the value name.
std::optional<std::wstring> RunValueDescription(const std::wstring& lookedUp, const std::wstring& valueName);

// The part of a WMI user name that a profile's path holds: after the last
// backslash, with the two service accounts spelt as their profile folders.
std::wstring ProfileFolderName(std::wstring_view user);
// The well-known SIDs of the service accounts are this short; users' are not.
bool IsServiceAccountSid(std::wstring_view sid);

struct Translation {
  uint16_t language;
  uint16_t codePage;
};
// Index of the translation to read: the user's language, then its primary
// language, then neutral, then English, else the first. The table is not empty.
size_t ChooseTranslation(const std::vector<Translation>& table, uint16_t userLanguage);

// One row of "APPS_LIST", every value UTF-8.
struct StartupRow {
  std::wstring name;
  std::wstring description;
  std::wstring location;
  std::wstring user;
  bool enabled = true;
  std::wstring startupType;
};
Json::Value StartupRowJson(const StartupRow& row);

// ASCII letters compared without case; keywords of requests are ASCII.
bool EqualsNoCase(std::string_view text, std::string_view keyword);
bool EqualsNoCase(std::wstring_view text, std::wstring_view keyword);

// The request member as UTF-8 text; empty when absent or not text.
std::string MemberText(const Json::Value& data, const char* key);

// "APPS_LIST" becomes "NO_APPS_FOUND" when absent, null or empty.
void FinishListData(Json::Value& data, const std::string& webClientId);
// "WebClientID", "ACTION_NAME", "ERROR_CODE" and "ACTION_RESULT".
void FillActionData(Json::Value& data, const std::string& webClientId, const std::string& action, int result);

}  // namespace hk::startup
