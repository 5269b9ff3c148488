// Shares, sessions, open files and share ACLs for the sharing tests (Wine has
// none of them). While a FakeSharingApi lives it stands in the tool's table
// and behaves like the real calls: NetApiBufferAllocate buffers with the
// strings inside, ERROR_MORE_DATA paging, real self-relative descriptors read
// by the real GetExplicitEntriesFromAclW, real error codes.
#pragma once
#include <windows.h>
#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "infra/win_resource.h"
#include "tools/sharing/guarded_call.h"
#include "tools/sharing/sharing_api.h"

namespace hk::test {

struct FakeShare {
  std::wstring name;
  std::wstring dacl = L"D:(A;;0x1F01FF;;;WD)";  // Everyone has full control
  DWORD type = STYPE_DISKTREE, permissions = ACCESS_ALL, maxUses = SHI_USES_UNLIMITED, currentUses = 0;
  enum { kValid, kInvalid, kNone } descriptor = kValid;
  DWORD securityFailure = 0, entriesFailure = 0;  // answers of GetNamedSecurityInfoW, GetExplicitEntriesFromAclW
};

// Raises what Wine raises for a call into a function its DLL lacks.
inline void RaiseUnimplemented(const char* function) {
  const ULONG_PTR names[] = {reinterpret_cast<ULONG_PTR>("netapi32.dll"), reinterpret_cast<ULONG_PTR>(function)};
  ::RaiseException(hk::sharing::kUnimplementedFunction, EXCEPTION_NONCONTINUABLE, 2, names);
}

class FakeSharingApi {
 public:
  std::vector<FakeShare> shares;
  // Their strings are copied into the buffers; null ones stay null.
  std::vector<SESSION_INFO_502> sessions;
  std::vector<FILE_INFO_3> files;
  // What a NetApi function answers, by name; kUnimplementedFunction raises.
  std::map<std::wstring, DWORD> failures;
  DWORD pageSize = 0;               // entries per enumeration call; 0: all at once
  std::vector<std::wstring> calls;  // the acting calls: "NetShareDel Docs", ...
  std::set<void*> live;             // buffers handed out, not yet freed through the table

  FakeSharingApi() : previous_(hk::sharing::g_sharingApi) {
    self_ = this;
    hk::sharing::g_sharingApi = {ShareEnum, ShareSetInfo, ShareDel,   SessionEnum,  SessionDel,
                                 FileEnum,  FileClose,    BufferFree, SecurityInfo, ExplicitEntries};
  }
  ~FakeSharingApi() {
    hk::sharing::g_sharingApi = previous_;
    for (void* buffer : live) ::NetApiBufferFree(buffer);
  }

 private:
  static inline FakeSharingApi* self_ = nullptr;
  hk::sharing::SharingApi previous_;
  DWORD entriesFailure_ = 0;

  // First in every NetApi fake, before anything needs a destructor.
  static DWORD Failure(const wchar_t* function) {
    const auto found = self_->failures.find(function);
    if (found == self_->failures.end()) return 0;
    if (found->second == hk::sharing::kUnimplementedFunction) {
      static std::string name;  // outlives the abandoned call, as Wine's names do
      name.assign(found->first.begin(), found->first.end());
      RaiseUnimplemented(name.c_str());
    }
    return found->second;
  }
  static FakeShare* Find(const std::wstring& name) {
    for (FakeShare& share : self_->shares) {
      if (share.name == name) return &share;
    }
    return nullptr;
  }
  // A self-relative descriptor in LocalAlloc memory, as the security calls hand out.
  static PSECURITY_DESCRIPTOR Descriptor(const FakeShare& share) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(share.dacl.c_str(), SDDL_REVISION_1, &descriptor, nullptr);
    return descriptor;
  }

  // One page of items in one NetApi buffer, the strings behind the records;
  // fill(item, copy) makes one record.
  template <typename Entry, typename Item, typename Resume, typename Fill>
  static NET_API_STATUS Serve(const wchar_t* function, const std::vector<Item>& items, LPBYTE* buffer, DWORD* read,
                              DWORD* total, Resume* resume, Fill fill) {
    *buffer = nullptr;
    *read = *total = 0;
    if (const DWORD failure = Failure(function)) return failure;
    const size_t first = *resume, left = items.size() - first;
    const size_t count = self_->pageSize && left > self_->pageSize ? self_->pageSize : left;
    *total = static_cast<DWORD>(left);
    void* memory = nullptr;
    if (count == 0) return NERR_Success;
    if (::NetApiBufferAllocate(static_cast<DWORD>(count * (sizeof(Entry) + 2048)), &memory)) return ERROR_OUTOFMEMORY;
    self_->live.insert(memory);
    BYTE* next = static_cast<BYTE*>(memory) + count * sizeof(Entry);
    const auto copy = [&](const void* data, size_t bytes) {
      void* at = data ? std::memcpy(next, data, bytes) : nullptr;
      next += (bytes + 7) & ~size_t{7};
      return at;
    };
    for (size_t i = 0; i < count; ++i) static_cast<Entry*>(memory)[i] = fill(items[first + i], copy);
    *buffer = static_cast<LPBYTE>(memory);
    *read = static_cast<DWORD>(count);
    *resume = static_cast<Resume>(first + count < items.size() ? first + count : 0);
    return *resume ? ERROR_MORE_DATA : NERR_Success;
  }
  // The record with each of the named strings copied.
  template <auto... Texts>
  static auto Copied() {
    return [](auto entry, auto& copy) {
      ((entry.*Texts = Text(copy, entry.*Texts)), ...);
      return entry;
    };
  }
  template <typename Copy>
  static wchar_t* Text(Copy& copy, const wchar_t* text) {
    return static_cast<wchar_t*>(copy(text, text ? (std::wcslen(text) + 1) * sizeof(wchar_t) : 0));
  }

  static NET_API_STATUS WINAPI ShareEnum(LMSTR server, DWORD level, LPBYTE* buffer, DWORD, LPDWORD read, LPDWORD total,
                                         LPDWORD resume) {
    if (server || level != 502) return ERROR_INVALID_PARAMETER;
    return Serve<SHARE_INFO_502>(L"NetShareEnum", self_->shares, buffer, read, total, resume, [](auto& s, auto& copy) {
      static const BYTE invalid[20] = {};  // a descriptor of revision 0, which is no valid one
      const unique_hlocal valid(s.descriptor == FakeShare::kValid ? Descriptor(s) : nullptr);
      void* descriptor = valid ? copy(valid.get(), ::LocalSize(valid.get())) : copy(invalid, sizeof invalid);
      wchar_t *name = Text(copy, s.name.c_str()), *remark = Text(copy, L""), *path = Text(copy, L"C:\\Shared");
      return SHARE_INFO_502{name,      s.type,
                            remark,    s.permissions,
                            s.maxUses, s.currentUses,
                            path,      nullptr,
                            0,         s.descriptor == FakeShare::kNone ? nullptr : descriptor};
    });
  }
  static NET_API_STATUS WINAPI ShareSetInfo(LMSTR server, LMSTR name, DWORD level, LPBYTE buffer, LPDWORD) {
    if (const DWORD failure = Failure(L"NetShareSetInfo")) return failure;
    const DWORD maxUses = reinterpret_cast<SHARE_INFO_1006*>(buffer)->shi1006_max_uses;
    self_->calls.push_back(L"NetShareSetInfo " + std::wstring(name) + L" " + std::to_wstring(maxUses));
    if (server || level != 1006) return ERROR_INVALID_PARAMETER;
    return Find(name) ? NERR_Success : NERR_NetNameNotFound;
  }
  static NET_API_STATUS WINAPI ShareDel(LMSTR server, LMSTR name, DWORD) {
    NET_API_STATUS result = Failure(L"NetShareDel");
    self_->calls.push_back(L"NetShareDel " + std::wstring(name));
    if (!result && (server || !Find(name))) result = NERR_NetNameNotFound;
    if (!result) std::erase_if(self_->shares, [&](const FakeShare& s) { return s.name == name; });
    ::SetLastError(result);
    return result;
  }
  static NET_API_STATUS WINAPI SessionEnum(LMSTR server, LMSTR client, LMSTR user, DWORD level, LPBYTE* buffer, DWORD,
                                           LPDWORD read, LPDWORD total, LPDWORD resume) {
    if (server || client || user || level != 502) return ERROR_INVALID_PARAMETER;
    return Serve<SESSION_INFO_502>(
        L"NetSessionEnum", self_->sessions, buffer, read, total, resume,
        Copied<&SESSION_INFO_502::sesi502_cname, &SESSION_INFO_502::sesi502_username,
               &SESSION_INFO_502::sesi502_cltype_name, &SESSION_INFO_502::sesi502_transport>());
  }
  static NET_API_STATUS WINAPI SessionDel(LMSTR server, LMSTR client, LMSTR user) {
    const NET_API_STATUS result = Failure(L"NetSessionDel");
    self_->calls.push_back(L"NetSessionDel " + std::wstring(client) + L" " + user);
    return server ? ERROR_INVALID_PARAMETER : result;
  }
  static NET_API_STATUS WINAPI FileEnum(LMSTR server, LMSTR base, LMSTR user, DWORD level, LPBYTE* buffer, DWORD,
                                        LPDWORD read, LPDWORD total, PDWORD_PTR resume) {
    if (server || base || user || level != 3) return ERROR_INVALID_PARAMETER;
    return Serve<FILE_INFO_3>(L"NetFileEnum", self_->files, buffer, read, total, resume,
                              Copied<&FILE_INFO_3::fi3_pathname, &FILE_INFO_3::fi3_username>());
  }
  static NET_API_STATUS WINAPI FileClose(LMSTR server, DWORD id) {
    if (const DWORD failure = Failure(L"NetFileClose")) return failure;
    self_->calls.push_back(L"NetFileClose " + std::to_wstring(id));
    if (server) return ERROR_INVALID_PARAMETER;
    return std::erase_if(self_->files, [&](const FILE_INFO_3& f) { return f.fi3_id == id; }) ? NERR_Success
                                                                                             : NERR_FileIdNotFound;
  }
  static NET_API_STATUS WINAPI BufferFree(LPVOID buffer) {
    return self_->live.erase(buffer) ? ::NetApiBufferFree(buffer) : ERROR_INVALID_PARAMETER;
  }
  static DWORD WINAPI SecurityInfo(LPCWSTR object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID*, PSID*,
                                   PACL* dacl, PACL*, PSECURITY_DESCRIPTOR* descriptor) {
    if (type != SE_LMSHARE || info != DACL_SECURITY_INFORMATION || !dacl || !descriptor) return ERROR_INVALID_PARAMETER;
    const std::wstring name = object;
    const FakeShare* share = Find(name.starts_with(L"\\\\.\\") ? name.substr(4) : name);
    if (!share) return NERR_NetNameNotFound;
    if (share->securityFailure) return share->securityFailure;
    *descriptor = Descriptor(*share);
    BOOL present = FALSE, defaulted = FALSE;
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    self_->entriesFailure_ = share->entriesFailure;  // for the DACL just handed out
    return ERROR_SUCCESS;
  }
  static DWORD WINAPI ExplicitEntries(PACL acl, PULONG count, PEXPLICIT_ACCESS_W* entries) {
    return self_->entriesFailure_ ? self_->entriesFailure_ : ::GetExplicitEntriesFromAclW(acl, count, entries);
  }
};

}  // namespace hk::test
