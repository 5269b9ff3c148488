#include "sharing/fake_sharing_api.h"

#include "tools/sharing/guarded_call.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <stdexcept>

namespace hk::test {

namespace {

FakeSharingApi* g_fake = nullptr;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<BYTE> SidBytes(const std::wstring& text) {
  PSID sid = nullptr;
  if (!::ConvertStringSidToSidW(text.c_str(), &sid)) throw std::runtime_error("bad SID text in a test");
  std::vector<BYTE> bytes(static_cast<const BYTE*>(sid), static_cast<const BYTE*>(sid) + ::GetLengthSid(sid));
  ::LocalFree(sid);
  return bytes;
}

// A self-relative descriptor whose DACL holds the entries in their order.
std::vector<BYTE> SelfRelativeDescriptor(const std::vector<FakeAce>& aces) {
  std::vector<std::vector<BYTE>> sids;
  DWORD aclSize = sizeof(ACL);
  for (const FakeAce& ace : aces) {
    sids.push_back(SidBytes(ace.sid));
    aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(sids.back().size());
  }
  std::vector<BYTE> acl(aclSize);
  PACL list = reinterpret_cast<PACL>(acl.data());
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
  if (!built || !::MakeSelfRelativeSD(&absolute, relative.data(), &length)) {
    throw std::runtime_error("cannot build a security descriptor");
  }
  return relative;
}

// Lays out one NetApi buffer: the entries first, then what they point to.
// Run once without a base to measure, then with the allocated buffer.
class Layout {
 public:
  explicit Layout(BYTE* base = nullptr) : base_(base) {}
  void* Take(size_t bytes) {
    used_ = (used_ + 7) & ~size_t{7};
    void* at = base_ ? base_ + used_ : nullptr;
    used_ += bytes;
    return at;
  }
  wchar_t* Text(const std::wstring& text) {
    void* at = Take((text.size() + 1) * sizeof(wchar_t));
    if (at) std::memcpy(at, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return static_cast<wchar_t*>(at);
  }
  void* Bytes(const std::vector<BYTE>& bytes) {
    void* at = Take(bytes.size());
    if (at) std::memcpy(at, bytes.data(), bytes.size());
    return at;
  }
  size_t used() const { return used_; }

 private:
  BYTE* base_;
  size_t used_ = 0;
};

}  // namespace

struct FakeCalls {
  // Called first, before the fake holds anything that needs a destructor.
  static void RaiseIfUnimplemented(const wchar_t* function) {
    if (g_fake->unimplemented.count(function) == 0) return;
    // Kept beyond the abandoned call, as Wine's own names are.
    static std::string name;
    name = Narrow(function);
    RaiseUnimplemented("netapi32.dll", name.c_str());
  }

  // One page of items as Entry records; fill(item, entry, layout) writes one.
  template <typename Entry, typename Item, typename Resume, typename Fill>
  static NET_API_STATUS Serve(const std::vector<Item>& items, NET_API_STATUS failure, LPBYTE* buffer, DWORD* read,
                              DWORD* total, Resume* resume, Fill fill) {
    ++g_fake->enumerationCalls;
    *buffer = nullptr;
    *read = 0;
    *total = 0;
    if (failure != 0) return failure;
    const size_t first = resume ? static_cast<size_t>(*resume) : 0;
    if (first > items.size()) return ERROR_INVALID_PARAMETER;
    size_t count = items.size() - first;
    if (g_fake->pageSize != 0 && count > g_fake->pageSize) count = g_fake->pageSize;
    *total = static_cast<DWORD>(items.size() - first);
    if (count == 0) return NERR_Success;
    const auto lay = [&](Layout& layout) {
      Entry* entries = static_cast<Entry*>(layout.Take(sizeof(Entry) * count));
      for (size_t i = 0; i < count; ++i) {
        Entry scratch{};
        fill(items[first + i], entries ? entries[i] : scratch, layout);
      }
    };
    Layout measure;
    lay(measure);
    void* memory = nullptr;
    if (::NetApiBufferAllocate(static_cast<DWORD>(measure.used()), &memory) != NERR_Success) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::memset(memory, 0, measure.used());
    g_fake->live_.insert(memory);
    ++g_fake->made_;
    Layout place(static_cast<BYTE*>(memory));
    lay(place);
    *buffer = static_cast<LPBYTE>(memory);
    *read = static_cast<DWORD>(count);
    const bool more = first + count < items.size();
    if (resume) *resume = more ? static_cast<Resume>(first + count) : 0;
    return more ? ERROR_MORE_DATA : NERR_Success;
  }

  static FakeShare* FindShare(const wchar_t* name) {
    for (FakeShare& share : g_fake->shares) {
      if (name && share.name == name) return &share;
    }
    return nullptr;
  }

  static NET_API_STATUS WINAPI ShareEnum(LMSTR server, DWORD level, LPBYTE* buffer, DWORD, LPDWORD read, LPDWORD total,
                                         LPDWORD resume) {
    RaiseIfUnimplemented(L"NetShareEnum");
    if (server) return ERROR_BAD_NETPATH;
    if (level != 502) return ERROR_INVALID_LEVEL;
    return Serve<SHARE_INFO_502>(g_fake->shares, g_fake->shareEnumFailure, buffer, read, total, resume,
                                 [](const FakeShare& share, SHARE_INFO_502& entry, Layout& layout) {
                                   entry.shi502_netname = layout.Text(share.name);
                                   entry.shi502_type = share.type;
                                   entry.shi502_remark = layout.Text(share.remark);
                                   entry.shi502_permissions = share.permissions;
                                   entry.shi502_max_uses = share.maxUses;
                                   entry.shi502_current_uses = share.currentUses;
                                   entry.shi502_path = layout.Text(share.path);
                                   if (share.descriptor == FakeShare::Descriptor::kValid) {
                                     entry.shi502_security_descriptor =
                                         layout.Bytes(SelfRelativeDescriptor(share.aces));
                                   } else if (share.descriptor == FakeShare::Descriptor::kInvalid) {
                                     // Revision 0: no valid descriptor.
                                     entry.shi502_security_descriptor = layout.Bytes(std::vector<BYTE>(20, 0));
                                   }
                                 });
  }

  static NET_API_STATUS WINAPI ShareSetInfo(LMSTR server, LMSTR name, DWORD level, LPBYTE buffer, LPDWORD) {
    RaiseIfUnimplemented(L"NetShareSetInfo");
    const DWORD maxUses = level == 1006 && buffer ? reinterpret_cast<SHARE_INFO_1006*>(buffer)->shi1006_max_uses : 0;
    g_fake->setInfoCalls.push_back({name ? name : L"(null)", level, maxUses});
    if (server) return ERROR_BAD_NETPATH;
    if (g_fake->setInfoResult != 0) return g_fake->setInfoResult;
    FakeShare* share = FindShare(name);
    if (!share) return NERR_NetNameNotFound;
    if (level != 1006) return ERROR_INVALID_LEVEL;
    share->maxUses = maxUses;
    return NERR_Success;
  }

  static NET_API_STATUS WINAPI ShareDel(LMSTR server, LMSTR name, DWORD) {
    RaiseIfUnimplemented(L"NetShareDel");
    g_fake->deletedShares.push_back(name ? name : L"(null)");
    NET_API_STATUS result = g_fake->shareDelResult;
    if (server) result = ERROR_BAD_NETPATH;
    if (result == 0 && !FindShare(name)) result = NERR_NetNameNotFound;
    if (result == 0) std::erase_if(g_fake->shares, [&](const FakeShare& s) { return s.name == name; });
    ::SetLastError(result);
    return result;
  }

  static NET_API_STATUS WINAPI SessionEnum(LMSTR server, LMSTR client, LMSTR user, DWORD level, LPBYTE* buffer, DWORD,
                                           LPDWORD read, LPDWORD total, LPDWORD resume) {
    RaiseIfUnimplemented(L"NetSessionEnum");
    if (server || client || user) return ERROR_INVALID_PARAMETER;
    if (level != 502) return ERROR_INVALID_LEVEL;
    return Serve<SESSION_INFO_502>(g_fake->sessions, g_fake->sessionEnumFailure, buffer, read, total, resume,
                                   [](const FakeSession& session, SESSION_INFO_502& entry, Layout& layout) {
                                     entry.sesi502_cname = layout.Text(session.client);
                                     entry.sesi502_username = layout.Text(session.user);
                                     entry.sesi502_num_opens = session.opens;
                                     entry.sesi502_time = session.seconds;
                                     entry.sesi502_idle_time = session.idleSeconds;
                                     entry.sesi502_user_flags = session.flags;
                                     entry.sesi502_cltype_name = layout.Text(session.clientType);
                                     entry.sesi502_transport = layout.Text(session.transport);
                                   });
  }

  static NET_API_STATUS WINAPI SessionDel(LMSTR server, LMSTR client, LMSTR user) {
    RaiseIfUnimplemented(L"NetSessionDel");
    g_fake->deletedSessions.emplace_back(client ? client : L"(null)", user ? user : L"(null)");
    return server ? ERROR_BAD_NETPATH : g_fake->sessionDelResult;
  }

  static NET_API_STATUS WINAPI FileEnum(LMSTR server, LMSTR basePath, LMSTR user, DWORD level, LPBYTE* buffer, DWORD,
                                        LPDWORD read, LPDWORD total, PDWORD_PTR resume) {
    RaiseIfUnimplemented(L"NetFileEnum");
    if (server || basePath || user) return ERROR_INVALID_PARAMETER;
    if (level != 3) return ERROR_INVALID_LEVEL;
    return Serve<FILE_INFO_3>(g_fake->files, g_fake->fileEnumFailure, buffer, read, total, resume,
                              [](const FakeFile& file, FILE_INFO_3& entry, Layout& layout) {
                                entry.fi3_id = file.id;
                                entry.fi3_permissions = file.permissions;
                                entry.fi3_num_locks = file.locks;
                                entry.fi3_pathname = layout.Text(file.path);
                                entry.fi3_username = layout.Text(file.user);
                              });
  }

  static NET_API_STATUS WINAPI FileClose(LMSTR server, DWORD id) {
    RaiseIfUnimplemented(L"NetFileClose");
    g_fake->closedFiles.push_back(id);
    if (server) return ERROR_BAD_NETPATH;
    const size_t removed = std::erase_if(g_fake->files, [&](const FakeFile& f) { return f.id == id; });
    return removed ? NERR_Success : NERR_FileIdNotFound;
  }

  static NET_API_STATUS WINAPI BufferFree(LPVOID buffer) {
    if (g_fake->live_.erase(buffer) == 0) {
      ++g_fake->foreignFrees_;
      return ERROR_INVALID_PARAMETER;
    }
    return ::NetApiBufferFree(buffer);
  }

  static DWORD WINAPI NamedSecurityInfo(LPCWSTR object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                        PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    g_fake->securityNames.push_back(object ? object : L"(null)");
    if (owner) *owner = nullptr;
    if (group) *group = nullptr;
    if (sacl) *sacl = nullptr;
    if (type != SE_LMSHARE || !(info & DACL_SECURITY_INFORMATION) || !dacl || !descriptor || !object) {
      return ERROR_INVALID_PARAMETER;
    }
    std::wstring name = object;
    if (name.rfind(L"\\\\.\\", 0) == 0) name.erase(0, 4);
    const FakeShare* share = FindShare(name.c_str());
    if (!share) return NERR_NetNameNotFound;
    if (share->securityFailure != 0) return share->securityFailure;
    const std::vector<BYTE> bytes = SelfRelativeDescriptor(share->aces);
    HLOCAL memory = ::LocalAlloc(LMEM_FIXED, bytes.size());
    if (!memory) return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(memory, bytes.data(), bytes.size());
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    ::GetSecurityDescriptorDacl(memory, &present, &list, &defaulted);
    *descriptor = memory;
    *dacl = list;
    // A freed descriptor's address comes back for the next one.
    std::erase_if(g_fake->aclFailures_, [&](const auto& failure) { return failure.first == list; });
    if (share->entriesFailure != 0) g_fake->aclFailures_.emplace_back(list, share->entriesFailure);
    return ERROR_SUCCESS;
  }

  static DWORD WINAPI ExplicitEntries(PACL acl, PULONG count, PEXPLICIT_ACCESS_W* entries) {
    for (const auto& [failing, code] : g_fake->aclFailures_) {
      if (failing == acl) return code;
    }
    return ::GetExplicitEntriesFromAclW(acl, count, entries);
  }
};

FakeSharingApi::FakeSharingApi() : previous_(hk::sharing::g_sharingApi) {
  g_fake = this;
  hk::sharing::g_sharingApi = hk::sharing::SharingApi{
      &FakeCalls::ShareEnum,         &FakeCalls::ShareSetInfo,   &FakeCalls::ShareDel,  &FakeCalls::SessionEnum,
      &FakeCalls::SessionDel,        &FakeCalls::FileEnum,       &FakeCalls::FileClose, &FakeCalls::BufferFree,
      &FakeCalls::NamedSecurityInfo, &FakeCalls::ExplicitEntries};
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
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  BYTE buffer[256];
  DWORD length = 0;
  const bool read = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length);
  ::CloseHandle(token);
  wchar_t* text = nullptr;
  if (!read || !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
    return std::wstring();
  }
  std::wstring sid = text;
  ::LocalFree(text);
  return sid;
}

}  // namespace hk::test
