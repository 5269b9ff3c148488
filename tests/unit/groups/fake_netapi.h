// Local groups, members and users kept in memory and served through the
// groups tool's NetApi table (Wine keeps none of them). Buffers come from
// NetApiBufferAllocate and the answers carry the system's status codes.
#pragma once
#include <windows.h>
#include <lm.h>

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

// While it lives the tool's table points here; one at a time.
class FakeNetApi {
 public:
  FakeNetApi();
  ~FakeNetApi();
  FakeNetApi(const FakeNetApi&) = delete;
  FakeNetApi& operator=(const FakeNetApi&) = delete;

  // "domain\name" -> account; the SID from its string form.
  FakeAccount& Account(const std::wstring& name, const wchar_t* sid, SID_NAME_USE usage);

  std::map<std::wstring, FakeAccount> accounts;
  std::map<std::wstring, std::vector<std::wstring>> groups;  // group -> member names, in order
  std::map<std::wstring, std::wstring> comments;             // group -> comment
  std::vector<FakeUser> users;
  DWORD users_per_page = 100;
  int failing_page = -1;                              // this user page (from 0) answers ERROR_ACCESS_DENIED
  NET_API_STATUS missing_group = NERR_GroupNotFound;  // deleting a group that is not there
  bool denied = false;                                // every change answers ERROR_ACCESS_DENIED
  int user_pages = 0;                                 // NetUserEnum calls served
};

}  // namespace hk::test
