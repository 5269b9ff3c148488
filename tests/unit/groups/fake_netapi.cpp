#include "groups/fake_netapi.h"

#include <sddl.h>

#include <algorithm>
#include <cstring>

namespace hk::test {
namespace {

FakeNetApi* g_fake = nullptr;

// One NetApiBufferAllocate block: the entries, then the texts and SIDs they
// point to, as the system packs them. The tests' texts are short.
template <typename Entry>
class Block {
 public:
  explicit Block(size_t count) {
    ::NetApiBufferAllocate(static_cast<DWORD>(count * (sizeof(Entry) + 512)), reinterpret_cast<LPVOID*>(&base_));
    next_ = base_ + count * sizeof(Entry);
  }
  Entry& operator[](size_t i) { return reinterpret_cast<Entry*>(base_)[i]; }
  LPWSTR Text(const std::wstring& text) { return static_cast<LPWSTR>(Copy(text.c_str(), (text.size() + 1) * 2)); }
  PSID Sid(const std::vector<BYTE>& sid) { return Copy(sid.data(), sid.size()); }
  LPBYTE get() const { return base_; }

 private:
  void* Copy(const void* data, size_t size) {
    void* at = std::memcpy(next_, data, size);
    next_ += (size + 3) & ~size_t{3};
    return at;
  }
  BYTE* base_ = nullptr;
  BYTE* next_ = nullptr;
};

NET_API_STATUS WINAPI GetMembers(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE* buffer, DWORD, LPDWORD read,
                                 LPDWORD total, PDWORD_PTR) {
  const auto found = g_fake->groups.find(group);
  if (level != 2) return ERROR_INVALID_LEVEL;
  if (found == g_fake->groups.end()) return NERR_GroupNotFound;
  Block<LOCALGROUP_MEMBERS_INFO_2> block(found->second.size());
  for (size_t i = 0; i < found->second.size(); ++i) {
    const FakeAccount& account = g_fake->accounts[found->second[i]];
    block[i] = {block.Sid(account.sid), account.usage, block.Text(found->second[i])};
  }
  *buffer = block.get();
  *read = *total = static_cast<DWORD>(found->second.size());
  return NERR_Success;
}

NET_API_STATUS WINAPI GetUser(LPCWSTR, LPCWSTR name, DWORD level, LPBYTE* buffer) {
  const auto found = g_fake->accounts.find(name);
  if (level != 1) return ERROR_INVALID_LEVEL;
  if (found == g_fake->accounts.end() || !found->second.comment) return NERR_UserNotFound;
  Block<USER_INFO_1> block(1);
  block[0] = USER_INFO_1{};
  block[0].usri1_name = block.Text(name);
  block[0].usri1_comment = block.Text(*found->second.comment);
  *buffer = block.get();
  return NERR_Success;
}

NET_API_STATUS ChangeMembers(bool add, LPCWSTR group, DWORD level, LPBYTE buffer, DWORD count) {
  const auto found = g_fake->groups.find(group);
  if (g_fake->denied) return ERROR_ACCESS_DENIED;
  if (level != 3 || count != 1) return ERROR_INVALID_LEVEL;
  if (found == g_fake->groups.end()) return NERR_GroupNotFound;
  const std::wstring name = reinterpret_cast<LOCALGROUP_MEMBERS_INFO_3*>(buffer)->lgrmi3_domainandname;
  if (!g_fake->accounts.count(name)) return ERROR_NO_SUCH_MEMBER;
  std::vector<std::wstring>& members = found->second;
  const auto at = std::find(members.begin(), members.end(), name);
  if (add != (at == members.end())) return add ? ERROR_MEMBER_IN_ALIAS : ERROR_MEMBER_NOT_IN_ALIAS;
  add ? members.push_back(name) : void(members.erase(at));
  return NERR_Success;
}

NET_API_STATUS WINAPI AddMembers(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE buffer, DWORD count) {
  return ChangeMembers(true, group, level, buffer, count);
}

NET_API_STATUS WINAPI DelMembers(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE buffer, DWORD count) {
  return ChangeMembers(false, group, level, buffer, count);
}

NET_API_STATUS WINAPI AddGroup(LPCWSTR, DWORD level, LPBYTE buffer, LPDWORD) {
  const auto* info = reinterpret_cast<LOCALGROUP_INFO_1*>(buffer);
  if (g_fake->denied) return ERROR_ACCESS_DENIED;
  if (level != 1) return ERROR_INVALID_LEVEL;
  if (g_fake->groups.count(info->lgrpi1_name)) return ERROR_ALIAS_EXISTS;
  g_fake->groups[info->lgrpi1_name];
  g_fake->comments[info->lgrpi1_name] = info->lgrpi1_comment;
  return NERR_Success;
}

NET_API_STATUS WINAPI DelGroup(LPCWSTR, LPCWSTR group) {
  if (g_fake->denied) return ERROR_ACCESS_DENIED;
  return g_fake->groups.erase(group) ? NERR_Success : g_fake->missing_group;
}

NET_API_STATUS WINAPI EnumUsers(LPCWSTR, DWORD level, DWORD filter, LPBYTE* buffer, DWORD, LPDWORD read, LPDWORD total,
                                LPDWORD resume) {
  if (level != 2 || filter != FILTER_NORMAL_ACCOUNT) return ERROR_INVALID_LEVEL;
  if (g_fake->user_pages++ == g_fake->failing_page) return ERROR_ACCESS_DENIED;
  const std::vector<FakeUser>& users = g_fake->users;
  const size_t first = *resume, count = std::min<size_t>(g_fake->users_per_page, users.size() - first);
  Block<USER_INFO_2> block(count);
  for (size_t i = 0; i < count; ++i) {
    const FakeUser& user = users[first + i];
    block[i] = USER_INFO_2{};
    block[i].usri2_name = block.Text(user.name);
    block[i].usri2_home_dir = block.Text(user.home_dir);
    block[i].usri2_comment = block.Text(user.comment);
    block[i].usri2_last_logon = user.last_logon;
    block[i].usri2_acct_expires = user.acct_expires;
  }
  *buffer = block.get();
  *read = static_cast<DWORD>(count);
  *total = static_cast<DWORD>(users.size());
  *resume = static_cast<DWORD>(first + count);
  return *resume < users.size() ? ERROR_MORE_DATA : NERR_Success;
}

}  // namespace

FakeNetApi::FakeNetApi() {
  g_fake = this;
  groups::g_groupApi = {&GetMembers, &GetUser, &AddMembers, &DelMembers, &AddGroup, &DelGroup, &EnumUsers};
}

FakeNetApi::~FakeNetApi() {
  groups::g_groupApi = groups::kSystemGroupApi;
  g_fake = nullptr;
}

FakeAccount& FakeNetApi::Account(const std::wstring& name, const wchar_t* sid, SID_NAME_USE usage) {
  FakeAccount& account = accounts[name];
  PSID binary = nullptr;
  if (::ConvertStringSidToSidW(sid, &binary)) {
    account.sid.assign(static_cast<BYTE*>(binary), static_cast<BYTE*>(binary) + ::GetLengthSid(binary));
    ::LocalFree(binary);
  }
  account.usage = usage;
  return account;
}

}  // namespace hk::test
