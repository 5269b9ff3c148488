// The shares of this machine, their permission entries, a share's user limit
// and deleting a share.
#include <windows.h>
#include <aclapi.h>
#include <lm.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/text.h"
#include "infra/log.h"
#include "infra/win_resource_tools.h"
#include "tools/sharing/guarded_call.h"
#include "tools/sharing/net_enumeration.h"
#include "tools/sharing/sharing.h"
#include "tools/sharing/sharing_api.h"

namespace hk::sharing {

namespace {

// " failed with error %d: %s" with the system's text of code.
void LogSystemText(DWORD code) {
  WriteLogLevel1(L" failed with error %d: %s", static_cast<int>(code), SystemMessage(code).c_str());
}

bool HasValidDescriptor(const SHARE_INFO_502& share) {
  return share.shi502_security_descriptor && ::IsValidSecurityDescriptor(share.shi502_security_descriptor);
}

// The share's DACL as the security API gives it. The list points into the
// descriptor, which is kept with it.
struct ShareDacl {
  DWORD status = ERROR_SUCCESS;
  unique_hlocal descriptor;
  PACL dacl = nullptr;
};

ShareDacl ReadShareDacl(const std::wstring& objectName) {
  ShareDacl result;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  result.status = g_sharingApi.GetNamedSecurityInfoW(objectName.c_str(), SE_LMSHARE, DACL_SECURITY_INFORMATION, nullptr,
                                                     nullptr, &result.dacl, nullptr, &descriptor);
  result.descriptor.reset(descriptor);
  if (result.status != ERROR_SUCCESS) result.dacl = nullptr;
  return result;
}

// The explicit entries of a DACL; none for a null DACL, which has no entries
// to list.
struct ExplicitEntries {
  DWORD status = ERROR_SUCCESS;
  ULONG count = 0;
  unique_hlocal list;
  const EXPLICIT_ACCESS_W* entries() const { return static_cast<const EXPLICIT_ACCESS_W*>(list.get()); }
};

ExplicitEntries ReadExplicitEntries(PACL dacl) {
  ExplicitEntries result;
  if (!dacl) return result;
  PEXPLICIT_ACCESS_W list = nullptr;
  result.status = g_sharingApi.GetExplicitEntriesFromAclW(dacl, &result.count, &list);
  result.list.reset(list);
  if (result.status != ERROR_SUCCESS || !list) result.count = 0;
  return result;
}

PSID TrusteeSid(const TRUSTEE_W& trustee) {
  if (trustee.TrusteeForm != TRUSTEE_IS_SID) return nullptr;
  return reinterpret_cast<PSID>(trustee.ptstrName);
}

void FailWithSystemText(Json::Value& data, DWORD code) {
  data["Status"] = "Failed";
  data["Remarks"] = SystemErrorText(code);
}

}  // namespace

std::string SystemErrorText(DWORD code) {
  char* text = GetSystemErrorText(code);
  std::string result = text ? text : "";
  FreeText(text);
  return result;
}

std::string ComErrorText(DWORD code) {
  std::wstring message = SystemMessage(code);
  if (message.size() >= 2 && message.compare(message.size() - 2, 2, L"\r\n") == 0) message.resize(message.size() - 2);
  if (!message.empty()) return ToUtf8(message);
  char made[64];
  if (code >= 0x80040201u && code <= 0x8004FFFFu) {
    std::snprintf(made, sizeof made, "IDispatch error #%d", static_cast<int>((code & 0xFFFF) - 0x200));
  } else {
    std::snprintf(made, sizeof made, "Unknown error 0x%lX", static_cast<unsigned long>(code));
  }
  return made;
}

void ListShares(Json::Value& data) {
  DWORD resume = 0;
  const auto shares = EnumerateAll<SHARE_INFO_502>([&](LPBYTE* buffer, DWORD* read, DWORD* total) {
    return NetCall(L"NetShareEnum", [&] {
      return g_sharingApi.NetShareEnum(nullptr, 502, buffer, MAX_PREFERRED_LENGTH, read, total, &resume);
    });
  });
  if (shares.status != NERR_Success || !shares.has_buffer()) {
    FailWithSystemText(data, shares.status);
    data["Shares"] = Json::Value();
    return;
  }
  PutList(data, shares.size(), "shareCount", "isSharesExceeded", "Shares",
          [&](size_t i) { return ShareRow(shares[i], GetShareMembers(shares[i])); });
}

Json::Value GetShareMembers(const SHARE_INFO_502& share) {
  const EntryCount counted = CountShareEntries(share);
  if (counted.status != 0) {
    WriteLog(L"Display ErrorStatus - %d\n", static_cast<int>(counted.status));
    LogSystemText(counted.status);
  }
  if (counted.count == 0) WriteLog(L"Noof User == 0\n");
  std::vector<ShareMember> records;
  try {
    records.resize(counted.count);
  } catch (const std::bad_alloc&) {
    WriteLog(L"pDacl=NULL Cant Allocate Memory...\n");
    return Json::Value();
  }
  if (!GetSharePermission(share, records)) {
    WriteLog(L"GetSharePermission func failed...\n");
    return Json::Value();
  }
  const std::string shareName = Utf8(share.shi502_netname);
  Json::Value members;
  for (Json::ArrayIndex i = 0; i < counted.count; ++i) members[i] = MemberRow(shareName, records[i]);
  return members;
}

EntryCount CountShareEntries(const SHARE_INFO_502& share) {
  EntryCount result;
  if (!HasValidDescriptor(share)) {
    result.status = 1;
    return result;
  }
  const ShareDacl dacl = ReadShareDacl(share.shi502_netname ? share.shi502_netname : L"");
  if (dacl.status != ERROR_SUCCESS) {
    result.status = dacl.status;
    return result;
  }
  const ExplicitEntries entries = ReadExplicitEntries(dacl.dacl);
  result.status = entries.status;
  result.count = entries.count;
  return result;
}

int GetSharePermission(const SHARE_INFO_502& share, std::vector<ShareMember>& records) {
  try {
    const std::wstring objectName = L"\\\\.\\" + std::wstring(share.shi502_netname ? share.shi502_netname : L"");
    if (!HasValidDescriptor(share)) {
      WriteLog(L"Clean GetSharePermission - pEa\n");
      return 1;
    }
    const ShareDacl dacl = ReadShareDacl(objectName);
    if (dacl.status != ERROR_SUCCESS) {
      WriteLog(L"Error status GetSharePermission\n");
      LogSystemText(dacl.status);
      return 0;
    }
    const ExplicitEntries entries = ReadExplicitEntries(dacl.dacl);
    if (entries.status != ERROR_SUCCESS) {
      WriteLogLevel1(L"GetExplicitEntriesFromAcl Error Status - %d\n", static_cast<int>(entries.status));
      LogSystemText(entries.status);
      return 0;
    }
    // The list may have changed since it was counted: fill what both hold.
    const ULONG filled = entries.count < records.size() ? entries.count : static_cast<ULONG>(records.size());
    for (ULONG i = 0; i < filled; ++i) {
      const EXPLICIT_ACCESS_W& entry = entries.entries()[i];
      ShareMember& record = records[i];
      record = ShareMember();
      // The entry's own access stands even when its account has no name.
      record.accessMode = entry.grfAccessMode;
      record.accessKind = AccessKindOf(entry.grfAccessMode, entry.grfAccessPermissions);
      const PSID sid = TrusteeSid(entry.Trustee);
      if (!sid) continue;
      std::vector<BYTE> copy;
      if (::IsValidSid(sid)) {
        copy.resize(::GetLengthSid(sid));
        if (!::CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid)) copy.clear();
      }
      if (copy.empty() || !::IsValidSid(copy.data())) {
        WriteLog(L"Clean GetSharePermission - s\n");
        continue;
      }
      DWORD nameLength = 256;
      DWORD domainLength = 256;
      SID_NAME_USE use;
      if (!::LookupAccountSidW(nullptr, copy.data(), record.accountName, &nameLength, record.domainName, &domainLength,
                               &use)) {
        record.accountName[0] = L'\0';
        record.domainName[0] = L'\0';
        continue;
      }
      WriteLog(L"Clean GetSharePermission - s\n");
    }
    WriteLog(L"Clean GetSharePermission - pEa\n");
    return 1;
  } catch (...) {
    WriteLog(L"Exception occured at GetSharePermission\n");
    return 0;
  }
}

void SetShareInfo(const Json::Value& request, Json::Value& data) {
  std::wstring name = FromUtf8(RequestText(request, "SHARE_NAME"));
  SHARE_INFO_1006 info{MaxUsesFromText(RequestText(request, "MAX_USES"))};
  DWORD parameterError = 0;
  const NET_API_STATUS status = NetCall(L"NetShareSetInfo", [&] {
    return g_sharingApi.NetShareSetInfo(nullptr, name.data(), 1006, reinterpret_cast<LPBYTE>(&info), &parameterError);
  });
  if (status == NERR_Success) {
    data["Status"] = "SUCCESS";
    data["Remarks"] = "Successfully set this share Info";
  } else {
    FailWithSystemText(data, status);
  }
}

void DeleteShare(const Json::Value& request, Json::Value& data) {
  std::wstring name = FromUtf8(RequestText(request, "SHARE_NAME"));
  const NET_API_STATUS status =
      NetCall(L"NetShareDel", [&] { return g_sharingApi.NetShareDel(nullptr, name.data(), 0); });
  const DWORD error = ::GetLastError();
  if (status == NERR_Success) {
    data["Status"] = "Success";
    data["Remarks"] = "Successfully delete this Share";
  } else {
    data["Status"] = "Failed";
    data["Remarks"] = ComErrorText(error);
  }
}

}  // namespace hk::sharing
