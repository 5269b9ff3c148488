// The plain part of the sharing tool: what Windows said about shares, their
// permission entries, sessions, open files and accounts turned into the rows
// and answers of tool 8, and the request texts read back into numbers.
#pragma once
#include <windows.h>
#include <accctrl.h>
#include <lm.h>

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hk::sharing {

// Longer lists are cut to this many rows; their count still tells the whole.
constexpr size_t kMaxListedRows = 100;

// Share type and share-level permission, each compared as a whole value: a
// flag combined with a type (the IPC share's 0x80000003) has no text.
const char* ShareTypeText(uint32_t type);
const char* SharePermissionText(uint32_t permissions);
// "Maximum Allowed" for the unlimited 0xFFFFFFFF, else unsigned decimal.
std::string MaxUsesText(uint32_t maxUses);

const char* SessionUserFlagsText(uint32_t flags);
// The old LAN Manager client types, compared without regard to case; any
// other client (every current one) has no text.
const char* ClientTypeText(std::wstring_view clientType);
// "NO ACCESS" to "READ,WRITE,CREATE" for 0 to 7; empty above.
const char* FilePermissionText(uint32_t permissions);

// Which of the six member flags one permission entry sets, from its access
// mode and the DELETE, READ_CONTROL and WRITE_DAC bits of its mask.
enum AccessKind : int32_t {
  kFullGranted = 0,
  kChangeGranted = 1,
  kReadGranted = 2,
  kFullDenied = 3,
  kChangeDenied = 4,
  kReadDenied = 5,
  kOtherAccess = -1,
};
AccessKind AccessKindOf(ACCESS_MODE mode, DWORD mask);

// What is known of one explicit entry of a share's access list.
struct ShareMember {
  wchar_t accountName[256] = {};
  wchar_t domainName[256] = {};
  AccessKind accessKind = kOtherAccess;
  ACCESS_MODE accessMode = NOT_USED_ACCESS;
};

Json::Value MemberRow(const std::string& shareName, const ShareMember& member);
// members: the array of member rows, or null when the share has none.
Json::Value ShareRow(const SHARE_INFO_502& share, Json::Value members);
Json::Value SessionRow(const SESSION_INFO_502& session, const std::string& computerName);
Json::Value OpenFileRow(const FILE_INFO_3& file);

// One Win32_Account object; a property that could not be read stays empty.
struct AccountFacts {
  std::wstring description;
  std::wstring status;
  std::wstring sid;
  uint8_t sidType = 0;
  std::wstring domain;
  std::wstring name;
};
Json::Value AccountRow(uint32_t index, const AccountFacts& account);

// Fills countKey, exceededKey and listKey of data from count entries: the
// first kMaxListedRows become rows (row(i) makes row i), the list is null
// when there is none.
template <typename RowMaker>
void PutList(Json::Value& data, size_t count, const char* countKey, const char* exceededKey, const char* listKey,
             RowMaker row) {
  data[countKey] = std::to_string(count);
  data[exceededKey] = count > kMaxListedRows;
  Json::Value rows;
  const size_t listed = count > kMaxListedRows ? kMaxListedRows : count;
  for (size_t i = 0; i < listed; ++i) rows[static_cast<Json::ArrayIndex>(i)] = row(i);
  data[listKey] = rows;
}

// The 8000 answer: "Shares" (the rows, or "no_Shares_found"),
// "isSharesExceeded" and "shareCount" of what the listing wrote, nothing else.
Json::Value SharesAnswer(const Json::Value& listing);
// "no_Accounts_found" in place of an absent, null or empty "Accounts".
void MarkMissingAccounts(Json::Value& data);

// A member of the request data as text: a string as it is, a number or flag
// as its decimal or word, anything else (and a request that is no object)
// as the empty text.
std::string RequestText(const Json::Value& data, const char* key);
bool IsAllShares(std::string_view shareName);
// "-1" is unlimited; else the leading decimal number as the C runtime reads
// it, 0 when there is none.
uint32_t MaxUsesFromText(std::string_view text);
// The leading unsigned decimal number, 0 when there is none.
uint32_t FileIdFromText(std::string_view text);

// Windows text (null reads as empty) as UTF-8.
std::string Utf8(const wchar_t* text);

}  // namespace hk::sharing
