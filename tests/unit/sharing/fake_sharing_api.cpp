#include "sharing/fake_sharing_api.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <stdexcept>

#include "tools/sharing/guarded_call.h"

namespace hk::test {

namespace {

FakeSharingApi* g_fake = nullptr;

// A self-relative descriptor whose DACL holds the entries in their order.
std::vector<BYTE> Descriptor(const std::vector<FakeAce>& aces) {
  std::vector<std::vector<BYTE>> sids;
  DWORD aclSize = sizeof(ACL);
  for (const FakeAce& ace : aces) {
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(ace.sid.c_str(), &sid)) throw std::runtime_error("bad SID text in a test");
    sids.emplace_back(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + ::GetLengthSid(sid));
    ::LocalFree(sid);
    aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(sids.back().size());
  }
  std::vector<BYTE> acl(aclSize);
  const PACL list = reinterpret_cast<PACL>(acl.data());
  bool built = ::InitializeAcl(list, aclSize, ACL_REVISION);
  for (size_t i = 0; built && i < aces.size(); ++i) {
    built = aces[i].allow ? ::AddAccessAllowedAce(list, ACL_REVISION, aces[i].mask, sids[i].data())
                          : ::AddAccessDeniedAce(list, ACL_REVISION, aces[i].mask, sids[i].data());
  }
  SECURITY_DESCRIPTOR absolute;
  built = built && ::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) &&
          ::SetSecurityDescriptorDacl(&absolute, TRUE, list, FALSE);
  DWORD length = 0;
  ::MakeSelfRelativeSD(&absolute, nullptr, &length);
  std::vector<BYTE> relative(length);
  if (!built || !::MakeSelfRelativeSD(&absolute, relative.data(), &length)) throw std::runtime_error("no descriptor");
  return relative;
}

// Hands out the parts of one NetApi buffer, entries first, then what they
// point to. The buffer is sized generously for a test's short texts.
class Arena {
 public:
  explicit Arena(BYTE* base) : base_(base) {}
  void* Copy(const void* data, size_t bytes) {
    void* at = base_ + used_;
    if (data) std::memcpy(at, data, bytes);
    used_ = (used_ + bytes + 7) & ~size_t{7};
    return at;
  }
  wchar_t* Text(const std::wstring& text) {
    return static_cast<wchar_t*>(Copy(text.c_str(), (text.size() + 1) * sizeof(wchar_t)));
  }

 private:
  BYTE* base_;
  size_t used_ = 0;
};

}  // namespace

struct FakeCalls {
  // First thing in every NetApi fake, before anything needs a destructor.
  static DWORD Failure(const wchar_t* function) {
    const auto found = g_fake->failures.find(function);
    if (found == g_fake->failures.end()) return 0;
    if (found->second == hk::sharing::kUnimplementedFunction) {
      static std::string name;  // outlives the abandoned call, as Wine's names do
      name.assign(found->first.begin(), found->first.end());
      RaiseUnimplemented("netapi32.dll", name.c_str());
    }
    return found->second;
  }

  // One page of items as Entry records, each written by fill.
  template <typename Entry, typename Item, typename Resume, typename Fill>
  static NET_API_STATUS Serve(const wchar_t* function, const std::vector<Item>& items, LPBYTE* buffer, DWORD* read,
                              DWORD* total, Resume* resume, Fill fill) {
    *buffer = nullptr;
    *read = *total = 0;
    if (const DWORD failure = Failure(function)) return failure;
    const size_t first = *resume;
    size_t count = items.size() - first;
    if (g_fake->pageSize && count > g_fake->pageSize) count = g_fake->pageSize;
    *total = static_cast<DWORD>(items.size() - first);
    if (count == 0) return NERR_Success;
    void* memory = nullptr;
    if (::NetApiBufferAllocate(static_cast<DWORD>(count * (sizeof(Entry) + 4096)), &memory))
      return ERROR_NOT_ENOUGH_MEMORY;
    g_fake->live_.insert(memory);
    Arena arena(static_cast<BYTE*>(memory));
    auto* entries = static_cast<Entry*>(arena.Copy(nullptr, sizeof(Entry) * count));
    for (size_t i = 0; i < count; ++i) fill(items[first + i], entries[i], arena);
    *buffer = static_cast<LPBYTE>(memory);
    *read = static_cast<DWORD>(count);
    const bool more = first + count < items.size();
    *resume = more ? static_cast<Resume>(first + count) : 0;
    return more ? ERROR_MORE_DATA : NERR_Success;
  }

  static FakeShare* Find(const std::wstring& name) {
    for (FakeShare& share : g_fake->shares) {
      if (share.name == name) return &share;
    }
    return nullptr;
  }

  // clang-format off
  static NET_API_STATUS WINAPI ShareEnum(LMSTR server, DWORD level, LPBYTE* buffer, DWORD, LPDWORD read, LPDWORD total,
                                         LPDWORD resume) {
    if (server || level != 502) return ERROR_INVALID_PARAMETER;
    return Serve<SHARE_INFO_502>(L"NetShareEnum", g_fake->shares, buffer, read, total, resume,
        [](const FakeShare& s, SHARE_INFO_502& entry, Arena& a) {
          entry = {a.Text(s.name), s.type, a.Text(s.remark), s.permissions, s.maxUses, s.currentUses, a.Text(s.path),
                   nullptr, 0, nullptr};
          const std::vector<BYTE> bytes = s.descriptor == FakeShare::Descriptor::kValid ? Descriptor(s.aces)
                                                                                       : std::vector<BYTE>(20, 0);
          if (s.descriptor != FakeShare::Descriptor::kNone) {
            entry.shi502_security_descriptor = a.Copy(bytes.data(), bytes.size());  // 20 zero bytes: revision 0
          }
        });
  }
  // clang-format on

  static NET_API_STATUS WINAPI ShareSetInfo(LMSTR server, LMSTR name, DWORD level, LPBYTE buffer, LPDWORD) {
    if (const DWORD failure = Failure(L"NetShareSetInfo")) return failure;
    const DWORD maxUses = reinterpret_cast<SHARE_INFO_1006*>(buffer)->shi1006_max_uses;
    g_fake->calls.push_back(L"NetShareSetInfo " + std::wstring(name) + L" " + std::to_wstring(level) + L" " +
                            std::to_wstring(maxUses));
    if (server || level != 1006) return ERROR_INVALID_PARAMETER;
    if (!Find(name)) return NERR_NetNameNotFound;
    Find(name)->maxUses = maxUses;
    return NERR_Success;
  }

  static NET_API_STATUS WINAPI ShareDel(LMSTR server, LMSTR name, DWORD) {
    NET_API_STATUS result = Failure(L"NetShareDel");
    g_fake->calls.push_back(L"NetShareDel " + std::wstring(name));
    if (!result && (server || !Find(name))) result = NERR_NetNameNotFound;
    if (!result) std::erase_if(g_fake->shares, [&](const FakeShare& s) { return s.name == name; });
    ::SetLastError(result);
    return result;
  }

  // clang-format off
  static NET_API_STATUS WINAPI SessionEnum(LMSTR server, LMSTR client, LMSTR user, DWORD level, LPBYTE* buffer, DWORD,
                                           LPDWORD read, LPDWORD total, LPDWORD resume) {
    if (server || client || user || level != 502) return ERROR_INVALID_PARAMETER;
    return Serve<SESSION_INFO_502>(L"NetSessionEnum", g_fake->sessions, buffer, read, total, resume,
        [](const FakeSession& s, SESSION_INFO_502& entry, Arena& a) {
          entry = {a.Text(s.client), a.Text(s.user), s.opens, s.seconds, s.idleSeconds, s.flags, a.Text(s.clientType),
                   a.Text(s.transport)};
        });
  }
  // clang-format on

  static NET_API_STATUS WINAPI SessionDel(LMSTR server, LMSTR client, LMSTR user) {
    const NET_API_STATUS result = Failure(L"NetSessionDel");
    g_fake->calls.push_back(L"NetSessionDel " + std::wstring(client) + L" " + user);
    return server ? ERROR_INVALID_PARAMETER : result;
  }

  static NET_API_STATUS WINAPI FileEnum(LMSTR server, LMSTR base, LMSTR user, DWORD level, LPBYTE* buffer, DWORD,
                                        LPDWORD read, LPDWORD total, PDWORD_PTR resume) {
    if (server || base || user || level != 3) return ERROR_INVALID_PARAMETER;
    return Serve<FILE_INFO_3>(L"NetFileEnum", g_fake->files, buffer, read, total, resume,
                              [](const FakeFile& f, FILE_INFO_3& entry, Arena& a) {
                                entry = {f.id, f.permissions, f.locks, a.Text(f.path), a.Text(f.user)};
                              });
  }

  static NET_API_STATUS WINAPI FileClose(LMSTR server, DWORD id) {
    if (const DWORD failure = Failure(L"NetFileClose")) return failure;
    g_fake->calls.push_back(L"NetFileClose " + std::to_wstring(id));
    if (server) return ERROR_INVALID_PARAMETER;
    return std::erase_if(g_fake->files, [&](const FakeFile& f) { return f.id == id; }) ? NERR_Success
                                                                                       : NERR_FileIdNotFound;
  }

  static NET_API_STATUS WINAPI BufferFree(LPVOID buffer) {
    return g_fake->live_.erase(buffer) ? ::NetApiBufferFree(buffer) : ERROR_INVALID_PARAMETER;
  }

  static DWORD WINAPI SecurityInfo(LPCWSTR object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID*, PSID*,
                                   PACL* dacl, PACL*, PSECURITY_DESCRIPTOR* descriptor) {
    g_fake->securityNames.push_back(object);
    if (type != SE_LMSHARE || !(info & DACL_SECURITY_INFORMATION) || !dacl || !descriptor) {
      return ERROR_INVALID_PARAMETER;
    }
    std::wstring name = object;
    if (name.rfind(L"\\\\.\\", 0) == 0) name.erase(0, 4);
    const FakeShare* share = Find(name);
    if (!share) return NERR_NetNameNotFound;
    if (share->securityFailure) return share->securityFailure;
    const std::vector<BYTE> bytes = Descriptor(share->aces);
    *descriptor = ::LocalAlloc(LMEM_FIXED, bytes.size());
    std::memcpy(*descriptor, bytes.data(), bytes.size());
    BOOL present = FALSE, defaulted = FALSE;
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    g_fake->entriesFailure_ = share->entriesFailure;  // for the DACL just handed out
    return ERROR_SUCCESS;
  }

  static DWORD WINAPI ExplicitEntries(PACL acl, PULONG count, PEXPLICIT_ACCESS_W* entries) {
    return g_fake->entriesFailure_ ? g_fake->entriesFailure_ : ::GetExplicitEntriesFromAclW(acl, count, entries);
  }
};

FakeSharingApi::FakeSharingApi() : previous_(hk::sharing::g_sharingApi) {
  g_fake = this;
  hk::sharing::g_sharingApi = {&FakeCalls::ShareEnum,      &FakeCalls::ShareSetInfo, &FakeCalls::ShareDel,
                               &FakeCalls::SessionEnum,    &FakeCalls::SessionDel,   &FakeCalls::FileEnum,
                               &FakeCalls::FileClose,      &FakeCalls::BufferFree,   &FakeCalls::SecurityInfo,
                               &FakeCalls::ExplicitEntries};
}

FakeSharingApi::~FakeSharingApi() {
  hk::sharing::g_sharingApi = previous_;
  for (void* buffer : live_) ::NetApiBufferFree(buffer);
  g_fake = nullptr;
}

void RaiseUnimplemented(const char* module, const char* function) {
  const ULONG_PTR names[] = {reinterpret_cast<ULONG_PTR>(module), reinterpret_cast<ULONG_PTR>(function)};
  ::RaiseException(hk::sharing::kUnimplementedFunction, EXCEPTION_NONCONTINUABLE, 2, names);
}

std::wstring FakeSharingApi::CurrentUserSid() {
  HANDLE token = nullptr;
  BYTE buffer[256];
  DWORD length = 0;
  wchar_t* text = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  const bool read = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length);
  ::CloseHandle(token);
  if (!read || !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) return L"";
  const std::wstring sid = text;
  ::LocalFree(text);
  return sid;
}

}  // namespace hk::test
