#include "tools/sharing/sharing_render.h"

#include <cstddef>
#include <cstdint>

#include "core/text.h"

namespace hk::sharing {

namespace {

template <typename Key>
struct Named {
  Key key;
  const char* text;
};

template <typename Key, size_t N>
const char* Lookup(const Named<Key> (&table)[N], Key key) {
  for (const Named<Key>& entry : table) {
    if (entry.key == key) return entry.text;
  }
  return "";
}

char AsciiLower(wchar_t c) { return static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + 'a' : c); }

bool SameAsciiIgnoringCase(std::wstring_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] > 0x7F || AsciiLower(a[i]) != AsciiLower(static_cast<wchar_t>(b[i]))) return false;
  }
  return true;
}

// As the C runtime's atoi reads a number: blanks, a sign, then digits.
// Saturates instead of wrapping.
int64_t LeadingNumber(std::string_view text, bool allowSign) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (allowSign && i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > UINT32_MAX) break;
  }
  return negative ? -value : value;
}

const char* Flag(bool set) { return set ? "1" : "0"; }

}  // namespace

const char* ShareTypeText(uint32_t type) {
  static const Named<uint32_t> kTypes[] = {
      {STYPE_DISKTREE, "Disk drive"},         {STYPE_PRINTQ, "Print queue"},
      {STYPE_DEVICE, "Communication device"}, {STYPE_IPC, "Interprocess communication (IPC)"},
      {STYPE_TEMPORARY, "A temporary share"}, {STYPE_SPECIAL, "Special Share"},
  };
  return Lookup(kTypes, type);
}

const char* SharePermissionText(uint32_t permissions) {
  static const Named<uint32_t> kPermissions[] = {
      {ACCESS_READ, "Permission to read data from a resource and, by default, to execute the resource"},
      {ACCESS_WRITE, "Permission to write data to the resource"},
      {ACCESS_CREATE,
       "Permission to create an instance of the resource (such as a file); data can be written to the resource as "
       "the resource is created"},
      {ACCESS_EXEC, "Permission to execute the resource"},
      {ACCESS_DELETE, "Permission to delete the resource"},
      {ACCESS_ATRIB,
       "Permission to modify the resource's attributes (such as the date and time when a file was last modified)"},
      {ACCESS_PERM,
       "Permission to modify the permissions (read, write, create, execute, and delete) assigned to a resource for a "
       "user or application"},
      {ACCESS_ALL,
       "Permission to read, write, create, execute, and delete resources, and to modify their attributes and "
       "permissions"},
  };
  return Lookup(kPermissions, permissions);
}

std::string MaxUsesText(uint32_t maxUses) {
  return maxUses == SHI_USES_UNLIMITED ? "Maximum Allowed" : std::to_string(maxUses);
}

const char* SessionUserFlagsText(uint32_t flags) {
  static const Named<uint32_t> kFlags[] = {
      {SESS_GUEST, "The user specified by the sesi502_username member established the session using a guest account."},
      {SESS_NOENCRYPTION,
       "The user specified by the sesi502_username member established the session without using password "
       "encryption."},
  };
  return Lookup(kFlags, flags);
}

const char* ClientTypeText(std::wstring_view clientType) {
  static const struct {
    const char* name;
    const char* text;
  } kClients[] = {
      {"DOS LM 1.0", "LAN Manager for MS-DOS 1.0 clients"},
      {"DOS LM 2.0", "LAN Manager for MS-DOS 2.0 clients."},
      {"OS/2 LM 1.0", "LAN Manager for MS-OS/2 1.0 clients."},
      {"OS/2 LM 2.0", "LAN Manager for MS-OS/2 2.0 clients."},
  };
  for (const auto& client : kClients) {
    if (SameAsciiIgnoringCase(clientType, client.name)) return client.text;
  }
  return "";
}

const char* FilePermissionText(uint32_t permissions) {
  static const char* const kNames[] = {"NO ACCESS", "READ",        "WRITE",        "READ,WRITE",
                                       "CREATE",    "READ,CREATE", "WRITE,CREATE", "READ,WRITE,CREATE"};
  return permissions < 8 ? kNames[permissions] : "";
}

AccessKind AccessKindOf(ACCESS_MODE mode, DWORD mask) {
  int32_t base;
  if (mode == GRANT_ACCESS) {
    base = kFullGranted;
  } else if (mode == DENY_ACCESS) {
    base = kFullDenied;
  } else {
    return kOtherAccess;
  }
  const bool readControl = (mask & READ_CONTROL) != 0;
  const bool writeDac = (mask & WRITE_DAC) != 0;
  const bool remove = (mask & DELETE) != 0;
  if (readControl && writeDac && remove) return static_cast<AccessKind>(base);
  if (remove) return static_cast<AccessKind>(base + 1);
  return static_cast<AccessKind>(base + 2);
}

Json::Value MemberRow(const std::string& shareName, const ShareMember& member) {
  // Full control implies change, change implies read; a denial of read is
  // implied by a denial of change, which a denial of full control implies.
  const AccessKind kind = member.accessKind;
  Json::Value row(Json::objectValue);
  row["SHARE_NAME"] = shareName;
  const std::string name = Utf8(member.accountName);
  row["USER_NAME"] = name.empty() ? "-" : name;
  row["ACCESS_FULL"] = Flag(kind == kFullGranted);
  row["ACCESS_CHANGE"] = Flag(kind == kFullGranted || kind == kChangeGranted);
  row["ACCESS_READ"] = Flag(kind == kFullGranted || kind == kChangeGranted || kind == kReadGranted);
  row["DENY_FULL"] = Flag(kind == kFullDenied);
  row["DENY_CHANGE"] = Flag(kind == kFullDenied || kind == kChangeDenied);
  row["DENY_READ"] = Flag(kind == kFullDenied || kind == kChangeDenied || kind == kReadDenied);
  return row;
}

Json::Value ShareRow(const SHARE_INFO_502& share, Json::Value members) {
  Json::Value row(Json::objectValue);
  row["SHARE_NAME"] = Utf8(share.shi502_netname);
  row["SHARE_TYPE"] = ShareTypeText(share.shi502_type);
  row["SHARE_DESCRIPTION"] = Utf8(share.shi502_remark);
  row["SHARE_PERMISSION"] = SharePermissionText(share.shi502_permissions);
  row["SHARE_MAX_USES"] = MaxUsesText(share.shi502_max_uses);
  row["SHARE_CURR_USES"] = std::to_string(share.shi502_current_uses);
  row["SHARE_PATH"] = Utf8(share.shi502_path);
  row["SHARE_MEMBERS"] = std::move(members);
  return row;
}

Json::Value SessionRow(const SESSION_INFO_502& session, const std::string& computerName) {
  Json::Value row(Json::objectValue);
  row["SESSION_COMPUTER_NAME"] = computerName;
  row["SESSION_USER_NAME"] = Utf8(session.sesi502_username);
  row["SESSION_NUM_OPENS"] = std::to_string(session.sesi502_num_opens);
  row["SESSION_ACTIVE_TIME"] = std::to_string(session.sesi502_time);
  row["SESSION_IDLE_TIME"] = std::to_string(session.sesi502_idle_time);
  row["SESSION_USER_FLAGS"] = SessionUserFlagsText(session.sesi502_user_flags);
  row["SESSION_CLIENT_TYPE_NAME"] =
      ClientTypeText(session.sesi502_cltype_name ? session.sesi502_cltype_name : std::wstring_view());
  row["SESSION_TRANSPORT_NAME"] = Utf8(session.sesi502_transport);
  return row;
}

Json::Value OpenFileRow(const FILE_INFO_3& file) {
  Json::Value row(Json::objectValue);
  row["FILE_INFO_ID"] = std::to_string(file.fi3_id);
  row["FILE_INFO_PERMISSION"] = FilePermissionText(file.fi3_permissions);
  row["FILE_INFO_NUM_LOCKS"] = std::to_string(file.fi3_num_locks);
  row["FILE_INFO_PATH_NAME"] = Utf8(file.fi3_pathname);
  row["FILE_INFO_USER_NAME"] = Utf8(file.fi3_username);
  return row;
}

Json::Value AccountRow(uint32_t index, const AccountFacts& account) {
  Json::Value row(Json::objectValue);
  row["INDEX"] = std::to_string(index);
  row["DESCRIPTION"] = ToUtf8(account.description);
  row["STATUS"] = ToUtf8(account.status);
  row["SID"] = ToUtf8(account.sid);
  row["SIDType"] = std::to_string(account.sidType);
  row["DOMAIN"] = ToUtf8(account.domain);
  row["NAME"] = ToUtf8(account.name);
  return row;
}

Json::Value SharesAnswer(const Json::Value& listing) {
  Json::Value answer(Json::objectValue);
  const Json::Value& shares = listing["Shares"];
  answer["Shares"] = shares.isArray() && !shares.empty() ? shares : Json::Value("no_Shares_found");
  answer["isSharesExceeded"] = listing["isSharesExceeded"].isBool() && listing["isSharesExceeded"].asBool();
  answer["shareCount"] = listing["shareCount"].isString() ? listing["shareCount"].asString() : std::string();
  return answer;
}

void MarkMissingAccounts(Json::Value& data) {
  const Json::Value& accounts = data["Accounts"];
  if (!accounts.isArray() || accounts.empty()) data["Accounts"] = "no_Accounts_found";
}

std::string RequestText(const Json::Value& data, const char* key) {
  if (!data.isObject()) return std::string();
  const Json::Value& value = data[key];
  if (value.isString() || value.isNumeric() || value.isBool()) return value.asString();
  return std::string();
}

bool IsAllShares(std::string_view shareName) { return SameAsciiIgnoringCase(FromUtf8(shareName), "All_Shares"); }

uint32_t MaxUsesFromText(std::string_view text) {
  if (text == "-1") return SHI_USES_UNLIMITED;
  const int64_t value = LeadingNumber(text, true);
  if (value > INT32_MAX) return static_cast<uint32_t>(INT32_MAX);
  if (value < INT32_MIN) return static_cast<uint32_t>(INT32_MIN);
  return static_cast<uint32_t>(static_cast<int32_t>(value));
}

uint32_t FileIdFromText(std::string_view text) {
  const int64_t value = LeadingNumber(text, false);
  return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

std::string Utf8(const wchar_t* text) { return text ? ToUtf8(text) : std::string(); }

}  // namespace hk::sharing
