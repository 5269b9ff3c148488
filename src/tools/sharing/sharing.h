// Tool 8, network sharing: the shares of this machine with their permission
// entries, a share's user limit, deleting a share, the machine's accounts,
// the network sessions other computers hold here and the files they opened.
// Windows is reached through the table of sharing_api.h.
#pragma once
#include <windows.h>
#include <lm.h>

#include <json/value.h>

#include <string>
#include <vector>

#include "infra/wmi.h"
#include "tools/sharing/sharing_render.h"

// Request codes 8000 to 8299. Fills *responseData and stores the formatter
// response text through responseText; a code it does not serve leaves both
// alone. 1, or 0 when the answer is the error response (code 8600).
int HandleShareRequest(int requestCode, Json::Value* requestData, Json::Value* responseData, char** responseText);

namespace hk::sharing {

// "shareCount", "isSharesExceeded" and "Shares"; on a failed enumeration
// "Status", "Remarks" and a null "Shares".
void ListShares(Json::Value& data);
// The member rows of one share, null when it has none or they cannot be read.
Json::Value GetShareMembers(const SHARE_INFO_502& share);

struct EntryCount {
  DWORD status = 0;  // 0, 1 for a share without a valid descriptor, else the failing call's code
  ULONG count = 0;
};
EntryCount CountShareEntries(const SHARE_INFO_502& share);
// Fills one record per explicit entry, as many as there are records.
// 1 on success (also for a share without a valid descriptor), else 0.
int GetSharePermission(const SHARE_INFO_502& share, std::vector<ShareMember>& records);

// "Status" and "Remarks".
void SetShareInfo(const Json::Value& request, Json::Value& data);
void DeleteShare(const Json::Value& request, Json::Value& data);

// "sessionCount", "isSessionExceeded" and "Sessions", or "Status", "Remarks"
// and "Sessions"; "Sessions" is null when there is no row.
void ListSessions(Json::Value& data);
void DeleteSession(const Json::Value& request, Json::Value& data);
// "fileCount", "isfileCountExceeded" and "OpenFiles", or "Status", "Remarks"
// and "OpenFiles"; "OpenFiles" is null when there is no row.
void ListOpenFiles(Json::Value& data);
void CloseFile(const Json::Value& request, Json::Value& data);

// The host name a reverse lookup finds for a dotted IPv4 client name; the
// client name itself when there is none (also for any other kind of name).
std::string LookupHostName(const std::string& clientName);

// The system text of an error code as a COM error object gives it: without
// its trailing line break, or a made-up text when the system has none.
std::string ComErrorText(DWORD code);
// GetSystemErrorText as a string.
std::string SystemErrorText(DWORD code);

}  // namespace hk::sharing

// The accounts list (8003): Win32_Account through a wmi instance of its own.
class AccountDetails {
 public:
  // Sets "Accounts" to the rows when the query ran; leaves it absent else.
  static void initializeAccountParameters(Json::Value& data);
};

class AcctDetails {
 public:
  // Non-zero when the query ran.
  static int GetAcctDetails(hk::wbem::Connection connection, Json::Value& data);
};
