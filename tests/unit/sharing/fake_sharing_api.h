// Shares, sessions, open files and share ACLs for the sharing tool's tests
// (Wine has none of them). While a FakeSharingApi lives it stands in the
// tool's table of calls and behaves like the real calls: NetApi buffers from
// NetApiBufferAllocate with the strings inside, ERROR_MORE_DATA paging when
// asked, real security descriptors and ACLs (InitializeAcl,
// AddAccessAllowedAce, AddAccessDeniedAce) in LocalAlloc memory read by the
// real GetExplicitEntriesFromAclW, and real error codes.
#pragma once
#include <windows.h>
#include <lm.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/sharing/sharing_api.h"

namespace hk::test {

// Share-level masks as the share permission dialog writes them.
constexpr DWORD kShareFull = 0x1F01FF, kShareChange = 0x1301BF, kShareRead = 0x1200A9;

struct FakeAce {
  bool allow = true;
  DWORD mask = 0;
  std::wstring sid{};  // "S-1-1-0"
};

struct FakeShare {
  std::wstring name{};
  DWORD type = STYPE_DISKTREE, permissions = ACCESS_ALL, maxUses = SHI_USES_UNLIMITED, currentUses = 0;
  std::wstring remark{}, path = L"C:\\Shared";
  enum class Descriptor { kValid, kInvalid, kNone } descriptor = Descriptor::kValid;
  std::vector<FakeAce> aces{};
  DWORD securityFailure = 0;  // what GetNamedSecurityInfoW answers for it
  DWORD entriesFailure = 0;   // what GetExplicitEntriesFromAclW answers for its DACL
};

struct FakeSession {
  std::wstring client = L"127.0.0.1", user = L"alice";
  DWORD opens = 0, seconds = 0, idleSeconds = 0, flags = 0;
  std::wstring clientType = L"Windows 10 Enterprise 19045", transport = L"\\Device\\NetbiosSmb";
};

struct FakeFile {
  DWORD id = 0, permissions = PERM_FILE_READ, locks = 0;
  std::wstring path = L"C:\\Shared\\a.txt", user = L"alice";
};

class FakeSharingApi {
 public:
  FakeSharingApi();   // puts the fake in the table
  ~FakeSharingApi();  // puts back what was there
  FakeSharingApi(const FakeSharingApi&) = delete;
  FakeSharingApi& operator=(const FakeSharingApi&) = delete;

  std::vector<FakeShare> shares;
  std::vector<FakeSession> sessions;
  std::vector<FakeFile> files;
  // What a NetApi function answers, by its name ("NetShareEnum", ...);
  // hk::sharing::kUnimplementedFunction makes it raise what Wine raises for
  // a function it does not implement. Unnamed ones succeed where the real
  // one would.
  std::map<std::wstring, DWORD> failures;
  DWORD pageSize = 0;  // entries per enumeration call; 0: all at once
  // The acting calls as "NetShareSetInfo Docs 1006 10", "NetShareDel Docs",
  // "NetSessionDel client user", "NetFileClose 42".
  std::vector<std::wstring> calls;
  std::vector<std::wstring> securityNames;  // object names asked of GetNamedSecurityInfoW

  size_t LiveBuffers() const { return live_.size(); }  // handed out, not yet freed through the table
  static std::wstring CurrentUserSid();

 private:
  friend struct FakeCalls;
  hk::sharing::SharingApi previous_;
  std::set<void*> live_;
  DWORD entriesFailure_ = 0;
};

// Raises the exception Wine raises for a call into a function it lacks.
void RaiseUnimplemented(const char* module, const char* function);

}  // namespace hk::test
