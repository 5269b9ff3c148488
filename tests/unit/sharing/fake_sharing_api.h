// Shares, sessions, open files and share ACLs for the sharing tool's tests:
// Wine answers "not supported" for shares and files and has no sessions or
// share ACLs. While a FakeSharingApi lives it stands in the tool's table of
// calls. It behaves like the real calls: NetApi buffers come from
// NetApiBufferAllocate with the strings inside, enumerations page with
// ERROR_MORE_DATA when asked to, security descriptors and ACLs are real ones
// (InitializeAcl, AddAccessAllowedAce, AddAccessDeniedAce) in LocalAlloc
// memory, and failures are real error codes. The explicit entries of an ACL
// come from the real GetExplicitEntriesFromAclW unless a failure is asked for.
#pragma once
#include <windows.h>
#include <lm.h>

#include <set>
#include <string>
#include <vector>

#include "tools/sharing/sharing_api.h"

namespace hk::test {

struct FakeAce {
  bool allow = true;
  DWORD mask = 0;
  std::wstring sid{};  // in string form, "S-1-1-0"
};

// Share-level masks as the share permission dialog writes them.
constexpr DWORD kShareFull = 0x1F01FF;
constexpr DWORD kShareChange = 0x1301BF;
constexpr DWORD kShareRead = 0x1200A9;

struct FakeShare {
  std::wstring name{};
  DWORD type = STYPE_DISKTREE;
  std::wstring remark{};
  DWORD permissions = ACCESS_ALL;
  DWORD maxUses = SHI_USES_UNLIMITED;
  DWORD currentUses = 0;
  std::wstring path = L"C:\\Shared";
  enum class Descriptor { kValid, kInvalid, kNone } descriptor = Descriptor::kValid;
  std::vector<FakeAce> aces{};
  DWORD securityFailure = 0;  // what GetNamedSecurityInfoW answers for it
  DWORD entriesFailure = 0;   // what GetExplicitEntriesFromAclW answers for its DACL
};

struct FakeSession {
  std::wstring client = L"10.0.0.7";
  std::wstring user = L"alice";
  DWORD opens = 0, seconds = 0, idleSeconds = 0, flags = 0;
  std::wstring clientType = L"Windows 10 Enterprise 19045";
  std::wstring transport = L"\\Device\\NetbiosSmb";
};

struct FakeFile {
  DWORD id = 0, permissions = PERM_FILE_READ, locks = 0;
  std::wstring path = L"C:\\Shared\\a.txt";
  std::wstring user = L"alice";
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
  // A non-zero code makes that enumeration fail with it.
  NET_API_STATUS shareEnumFailure = 0, sessionEnumFailure = 0, fileEnumFailure = 0;
  // Entries per enumeration call; the rest follows after ERROR_MORE_DATA. 0: all at once.
  DWORD pageSize = 0;
  // What NetShareSetInfo, NetShareDel and NetSessionDel answer (0: success
  // when the share exists). NetShareDel also leaves its code as last error.
  NET_API_STATUS setInfoResult = 0, shareDelResult = 0, sessionDelResult = 0;
  // NetApi functions that raise the unimplemented-function exception, as
  // some do under Wine ("NetShareSetInfo", ...).
  std::set<std::wstring> unimplemented;

  struct SetInfoCall {
    std::wstring name;
    DWORD level;
    DWORD maxUses;
  };
  std::vector<SetInfoCall> setInfoCalls;
  std::vector<std::wstring> deletedShares;
  std::vector<std::pair<std::wstring, std::wstring>> deletedSessions;  // client, user
  std::vector<DWORD> closedFiles;
  std::vector<std::wstring> securityNames;  // object names asked of GetNamedSecurityInfoW
  int enumerationCalls = 0;

  // NetApi buffers handed out and not freed through the table.
  size_t LiveBuffers() const { return live_.size(); }
  int BuffersMade() const { return made_; }
  int ForeignFrees() const { return foreignFrees_; }

  // The string SID of the account this test runs as.
  static std::wstring CurrentUserSid();

 private:
  friend struct FakeCalls;
  hk::sharing::SharingApi previous_;
  std::set<void*> live_;
  int made_ = 0;
  int foreignFrees_ = 0;
  std::vector<std::pair<PACL, DWORD>> aclFailures_;
};

// Raises the exception Wine raises for a call into a function it does not
// implement, naming the module and function as Wine does.
void RaiseUnimplemented(const char* module, const char* function);

}  // namespace hk::test
