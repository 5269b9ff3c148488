// The groups tool's NetApi table pointed at local groups, members and users
// kept in memory (Wine keeps none of them): NetApiBufferAllocate buffers with
// the texts and SIDs, ERROR_MORE_DATA paging of the users, the system's codes.
// Used by the groups tests and the request fuzzer.
#pragma once
#include <windows.h>
#include <lm.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/groups/group_api.h"

namespace hk::test {

struct FakeAccount {
  std::vector<BYTE> sid;  // as the member listing hands it out
  SID_NAME_USE usage = SidTypeUser;
  std::optional<std::wstring> comment;  // set: NetUserGetInfo knows the account
};

struct FakeUser {
  std::wstring name, home_dir, comment;
  DWORD last_logon = 0, acct_expires = TIMEQ_FOREVER;
};

class FakeNetApi {
 public:
  std::map<std::wstring, FakeAccount> accounts;              // by "domain\name"
  std::map<std::wstring, std::vector<std::wstring>> groups;  // group -> member names, in order
  std::map<std::wstring, std::wstring> comments;             // group -> comment
  std::vector<FakeUser> users;
  DWORD users_per_page = 100;
  int failing_page = -1;      // this user page (from 0) answers ERROR_ACCESS_DENIED
  int user_pages = 0;         // NetUserEnum calls served
  NET_API_STATUS forced = 0;  // when set, what every change answers

  FakeNetApi() {
    self_ = this;
    hk::groups::g_groupApi = {GetMembers, GetUser, AddMembers, DelMembers, AddGroup, DelGroup, EnumUsers};
  }
  ~FakeNetApi() { hk::groups::g_groupApi = hk::groups::kSystemGroupApi; }

  FakeAccount& Account(const std::wstring& name, const wchar_t* sid, SID_NAME_USE usage) {
    FakeAccount& account = accounts[name];
    PSID binary = nullptr;
    if (::ConvertStringSidToSidW(sid, &binary)) {
      account.sid.assign(static_cast<BYTE*>(binary), static_cast<BYTE*>(binary) + ::GetLengthSid(binary));
    }
    ::LocalFree(binary);
    account.usage = usage;
    return account;
  }

 private:
  static inline FakeNetApi* self_ = nullptr;

  // One NetApiBufferAllocate block: count zeroed entries, then the texts and
  // SIDs they point to (the tests' are short).
  template <typename Entry>
  struct Block {
    explicit Block(size_t count) {
      ::NetApiBufferAllocate(static_cast<DWORD>(count * (sizeof(Entry) + 512)), reinterpret_cast<LPVOID*>(&base));
      std::memset(base, 0, count * sizeof(Entry));
      next = base + count * sizeof(Entry);
    }
    Entry& operator[](size_t i) { return reinterpret_cast<Entry*>(base)[i]; }
    void* Copy(const void* data, size_t size) {
      void* at = std::memcpy(next, data, size);
      next += (size + 3) & ~size_t{3};
      return at;
    }
    LPWSTR Text(const std::wstring& text) { return static_cast<LPWSTR>(Copy(text.c_str(), (text.size() + 1) * 2)); }
    BYTE *base = nullptr, *next = nullptr;
  };

  static NET_API_STATUS WINAPI GetMembers(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE* buffer, DWORD, LPDWORD read,
                                          LPDWORD total, PDWORD_PTR) {
    const auto found = self_->groups.find(group);
    if (level != 2) return ERROR_INVALID_LEVEL;
    if (found == self_->groups.end()) return NERR_GroupNotFound;
    Block<LOCALGROUP_MEMBERS_INFO_2> block(found->second.size());
    for (size_t i = 0; i < found->second.size(); ++i) {
      const FakeAccount& account = self_->accounts[found->second[i]];
      block[i] = {block.Copy(account.sid.data(), account.sid.size()), account.usage, block.Text(found->second[i])};
    }
    *buffer = block.base;
    *read = *total = static_cast<DWORD>(found->second.size());
    return NERR_Success;
  }
  static NET_API_STATUS WINAPI GetUser(LPCWSTR, LPCWSTR name, DWORD level, LPBYTE* buffer) {
    const auto found = self_->accounts.find(name);
    if (level != 1) return ERROR_INVALID_LEVEL;
    if (found == self_->accounts.end() || !found->second.comment) return NERR_UserNotFound;
    Block<USER_INFO_1> block(1);
    block[0].usri1_name = block.Text(name);
    block[0].usri1_comment = block.Text(*found->second.comment);
    *buffer = block.base;
    return NERR_Success;
  }
  static NET_API_STATUS ChangeMembers(bool add, LPCWSTR group, DWORD level, LPBYTE buffer, DWORD count) {
    const auto found = self_->groups.find(group);
    if (self_->forced) return self_->forced;
    if (level != 3 || count != 1) return ERROR_INVALID_LEVEL;
    if (found == self_->groups.end()) return NERR_GroupNotFound;
    const std::wstring name = reinterpret_cast<LOCALGROUP_MEMBERS_INFO_3*>(buffer)->lgrmi3_domainandname;
    if (!self_->accounts.count(name)) return ERROR_NO_SUCH_MEMBER;
    std::vector<std::wstring>& members = found->second;
    const auto at = std::find(members.begin(), members.end(), name);
    if (add != (at == members.end())) return add ? ERROR_MEMBER_IN_ALIAS : ERROR_MEMBER_NOT_IN_ALIAS;
    add ? members.push_back(name) : void(members.erase(at));
    return NERR_Success;
  }
  static NET_API_STATUS WINAPI AddMembers(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE buffer, DWORD count) {
    return ChangeMembers(true, group, level, buffer, count);
  }
  static NET_API_STATUS WINAPI DelMembers(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE buffer, DWORD count) {
    return ChangeMembers(false, group, level, buffer, count);
  }
  static NET_API_STATUS WINAPI AddGroup(LPCWSTR, DWORD level, LPBYTE buffer, LPDWORD) {
    const auto* info = reinterpret_cast<LOCALGROUP_INFO_1*>(buffer);
    if (self_->forced) return self_->forced;
    if (level != 1) return ERROR_INVALID_LEVEL;
    if (self_->groups.count(info->lgrpi1_name)) return ERROR_ALIAS_EXISTS;
    self_->groups[info->lgrpi1_name];
    self_->comments[info->lgrpi1_name] = info->lgrpi1_comment ? info->lgrpi1_comment : L"";
    return NERR_Success;
  }
  static NET_API_STATUS WINAPI DelGroup(LPCWSTR, LPCWSTR group) {
    if (self_->forced) return self_->forced;
    return self_->groups.erase(group) ? NERR_Success : NERR_GroupNotFound;
  }
  static NET_API_STATUS WINAPI EnumUsers(LPCWSTR, DWORD level, DWORD filter, LPBYTE* buffer, DWORD, LPDWORD read,
                                         LPDWORD total, LPDWORD resume) {
    if (level != 2 || filter != FILTER_NORMAL_ACCOUNT) return ERROR_INVALID_LEVEL;
    if (self_->user_pages++ == self_->failing_page) return ERROR_ACCESS_DENIED;
    const std::vector<FakeUser>& users = self_->users;
    const size_t first = *resume, count = std::min<size_t>(self_->users_per_page, users.size() - first);
    Block<USER_INFO_2> block(count);
    for (size_t i = 0; i < count; ++i) {
      const FakeUser& user = users[first + i];
      block[i].usri2_name = block.Text(user.name);
      block[i].usri2_home_dir = block.Text(user.home_dir);
      block[i].usri2_comment = block.Text(user.comment);
      block[i].usri2_last_logon = user.last_logon;
      block[i].usri2_acct_expires = user.acct_expires;
    }
    *buffer = block.base;
    *read = static_cast<DWORD>(count);
    *total = static_cast<DWORD>(users.size());
    *resume = static_cast<DWORD>(first + count);
    return *resume < users.size() ? ERROR_MORE_DATA : NERR_Success;
  }
};

}  // namespace hk::test
