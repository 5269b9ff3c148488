// Tool 6 through its dispatcher: groups from the fake WMI; local groups,
// members and users kept in memory and served through the tool's NetApi table
// (Wine keeps none of them) with NetApiBufferAllocate buffers holding the
// texts and SIDs, ERROR_MORE_DATA paging of the users and the system's codes.
#include <windows.h>
#include <lm.h>
#include <sddl.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/messages.h"
#include "support/fake_wmi.h"
#include "tools/groups/group_api.h"
#include "tools/groups/groups.h"
#include "wmi/wmi_test_support.h"

namespace {

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

constexpr const wchar_t* kGroupQuery = L"SELECT * FROM Win32_Group Where LocalAccount = True";

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
  return value;
}

class Groups : public hk::test::WmiLogTest {
 protected:
  // The response the dispatcher built, or null when it built none.
  Json::Value Serve(int code, const std::string& data) {
    Json::Value request = Parse(data), response_data;
    char* text = nullptr;
    hk::test::RunOnComThread([&] { result_ = hk::groups::DispatchRequest(code, &request, &response_data, &text); });
    if (!text) return Json::Value();
    const Json::Value answer = Parse(text);
    hk::FreeText(text);
    EXPECT_EQ(answer["responseData"], response_data);
    EXPECT_EQ(answer["responseCode"], code + 300) << answer;
    EXPECT_EQ(answer["toolId"], 6);
    return answer;
  }

  hk::test::FakeWmi wmi_;
  FakeNetApi net_;
  int result_ = -1;
};

TEST_F(Groups, ListCarriesEveryKindOfMember) {
  net_.Account(L"HOST\\alice", L"S-1-5-21-1-2-3-1001", SidTypeUser).comment = L"Front desk";
  net_.Account(L"HOST\\Team", L"S-1-5-21-1-2-3-1002", SidTypeGroup);
  net_.Account(L"NT AUTHORITY\\INTERACTIVE", L"S-1-5-4", SidTypeWellKnownGroup);
  net_.Account(L"BUILTIN\\Users", L"S-1-5-32-545", SidTypeAlias);
  net_.Account(L"HOST\\ghost", L"S-1-5-21-1-2-3-1003", SidTypeDeletedAccount).sid[0] = 9;  // bad revision
  net_.Account(L"HOST\\J\u00f6rg", L"S-1-5-21-1-2-3-1004", SidTypeUser).comment = L"Stra\u00dfe";
  net_.groups[L"Administrators"] = {L"HOST\\alice", L"HOST\\Team", L"NT AUTHORITY\\INTERACTIVE", L"BUILTIN\\Users"};
  net_.groups[L"Empty"] = {};
  net_.groups[L"G\u00e4ste"] = {L"HOST\\ghost", L"HOST\\J\u00f6rg"};
  auto& rows = wmi_.Results(kGroupQuery);
  rows.AddRow()
      .Text(L"Caption", L"HOST\\Administrators")
      .Text(L"Description", L"Admins")
      .Text(L"Status", L"OK")
      .Bool(L"LocalAccount", true)
      .Text(L"SID", L"S-1-5-32-544")
      .UInt8(L"SIDType", 4)
      .Text(L"Domain", L"HOST")
      .Text(L"Name", L"Administrators");
  rows.AddNullObject();
  rows.AddRow().Text(L"Name", L"Empty").Null(L"Description", CIM_STRING).Int32(L"SIDType", 0x104);
  rows.AddRow().Text(L"Name", L"G\u00e4ste");

  const Json::Value answer = Serve(6000, R"({"Groups":"all_groups"})");
  EXPECT_EQ(answer["responseData"], Parse(R"({"groups":[
    {"CAPTION":"HOST\\Administrators","DESCRIPTION":"Admins","STATUS":"OK","SID":"S-1-5-32-544","SIDType":"4",
     "DOMAIN":"HOST","NAME":"Administrators","GROUP_ID":"0","MEMBERS":[
      {"MEMBER_ID":"0","SID":"S-1-5-21-1-2-3-1001","NAME":"HOST\\alice","DESCRIPTION":"Front desk","MEMBER_TYPE":"User"},
      {"MEMBER_ID":"1","SID":"S-1-5-21-1-2-3-1002","NAME":"HOST\\Team","DESCRIPTION":"--","MEMBER_TYPE":"Group"},
      {"MEMBER_ID":"2","SID":"S-1-5-4","NAME":"NT AUTHORITY\\INTERACTIVE","DESCRIPTION":"--","MEMBER_TYPE":"Group"},
      {"MEMBER_ID":"3","SID":"S-1-5-32-545","NAME":"BUILTIN\\Users","DESCRIPTION":"--","MEMBER_TYPE":"Others"}]},
    {"NAME":"Empty","SIDType":"4","GROUP_ID":"1","MEMBERS":null},
    {"NAME":"G\u00e4ste","GROUP_ID":"2","MEMBERS":[
      {"MEMBER_ID":"0","NAME":"HOST\\ghost","DESCRIPTION":"--","MEMBER_TYPE":"Others"},
      {"MEMBER_ID":"1","SID":"S-1-5-21-1-2-3-1004","NAME":"HOST\\J\u00f6rg","DESCRIPTION":"Stra\u00dfe",
       "MEMBER_TYPE":"User"}]}]})"));
  EXPECT_EQ(result_, 1);
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
  EXPECT_TRUE(Logged("GroupDetails::GetGroupDetails() Finished....!")) << Log();
}

TEST_F(Groups, WithoutAListTheAnswerIsNoGroupsFound) {
  wmi_.Results(kGroupQuery).AddRow().Text(L"Name", L"Administrators");
  for (const char* data : {R"({"Groups":"Administrators"})", "{}", R"({"Groups":5})"}) {
    EXPECT_EQ(Serve(6000, data)["responseData"], Parse(R"({"groups":"no_Groups_found"})")) << data;
  }
  EXPECT_TRUE(wmi_.queries().empty());
  wmi_.Fail(hk::test::FakeWmiStep::kConnectServer);
  EXPECT_EQ(Serve(6000, R"({"Groups":"All_Groups"})")["responseData"]["groups"], "no_Groups_found");
}

TEST_F(Groups, ExceptionInARowKeepsTheRowsBefore) {
  auto& rows = wmi_.Results(kGroupQuery);
  rows.AddRow().Text(L"Name", L"first");
  rows.AddRow().Text(L"Name", L"second").ThrowOnGet(L"Domain");
  const Json::Value groups = Serve(6000, R"({"Groups":"All_Groups"})")["responseData"]["groups"];
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0]["NAME"], "first");
  EXPECT_TRUE(Logged("GroupDetails::getGroupDetails() Exception occured ...!")) << Log();
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
}

TEST_F(Groups, MemberAndGroupActionsAnswerWithTheRemarkTables) {
  net_.Account(L"HOST\\bob", L"S-1-5-21-1-2-3-1001", SidTypeUser);
  net_.Account(L"H\u00d6ST\\J\u00f6rg", L"S-1-5-21-1-2-3-1002", SidTypeUser);
  net_.groups[L"Users"] = {};
  net_.groups[L"G\u00e4ste"] = {};
  const char* kAdded = "Success fully added this group Member";
  const char* kNoGroup = "The local group specified by the groupname parameter does not exist.";
  const char* kNoAccount = "AccountName Empty or Null";
  struct Step {
    int code;
    std::string request, group, domain, user;
    NET_API_STATUS forced;  // what the change answers, when set
    const char *name, *result, *remarks;
  };
  const std::vector<Step> steps = {
      {6001, "add", "Users", "HOST", "bob", 0, "AddMember", "Success", kAdded},
      {6001, "Add", "Users", "HOST", "bob", 0, "AddMember", "Failed",
       "One or more of the members specified were already members of the local group. No new members were added."},
      {6001, "Delete", "Users", "HOST", "bob", 0, "DelMember", "Success", "Success fully deleted this group Member"},
      {6001, "del", "Users", "HOST", "nobody", 0, "DelMember", "Failed",
       "One or more of the members specified do not exist. Therefore, no new members were deleted."},
      {6001, "ADD", "Nowhere", "HOST", "bob", 0, "AddMember", "Failed", kNoGroup},
      {6001, "add", "Users", "", "bob", 0, "AddMember", "Failed", kNoAccount},
      {6001, "", "Users", "HOST", "", 0, "DelMember", "Failed", kNoAccount},
      {6001, "add", "G\xC3\xA4ste", "H\xC3\x96ST", "J\xC3\xB6rg", 0, "AddMember", "Success", kAdded},
      {6001, "add", "Users", "HOST", "bob", 5, "AddMember", "Failed",
       "The user does not have access to the requested information."},
      {6002, "add", "Helpers", "", "", 0, "AddGroup", "Success", "Success fully added this group"},
      {6002, "Add", "Helpers", "", "", 0, "AddGroup", "Failed", "The specified local group already exists."},
      {6002, "Delete", "Helpers", "", "", 0, "DelGroup", "Success", "Success fully deleted this group"},
      {6002, "del", "Helpers", "", "", 0, "DelGroup", "Failed", kNoGroup},
      {6002, "", "Helpers", "", "", 1376, "DelGroup", "Failed", "The specified local group does not exist."},
      {6002, "add", "Helpers", "", "", 5, "AddGroup", "Failed",
       "The caller does not have the appropriate access to complete the operation."},
  };
  for (const Step& s : steps) {
    net_.forced = s.forced;
    const std::string data = R"({"Description":"Help desk","request":")" + s.request + R"(","Groups":")" + s.group +
                             R"(","domainName":")" + s.domain + R"(","userName":")" + s.user + "\"}";
    EXPECT_EQ(Serve(s.code, data)["responseData"],
              Parse(std::string(R"({"actionName":")") + s.name + R"(","actionResult":")" + s.result +
                    R"(","remarks":")" + s.remarks + "\"}"))
        << s.code << " " << data;
  }
  EXPECT_EQ(net_.groups[L"G\u00e4ste"], std::vector<std::wstring>{L"H\u00d6ST\\J\u00f6rg"});
  EXPECT_EQ(net_.comments[L"Helpers"], L"Help desk");
}

TEST_F(Groups, UsersArePagedAndNumberedAcrossPages) {
  for (int i = 0; i < 250; ++i)
    net_.users.push_back({L"user" + std::to_wstring(i), L"C:\\Users\\u" + std::to_wstring(i), L"", 1700000000u + i});
  net_.users[1].last_logon = 0;
  net_.users[1].acct_expires = 0x80000000u;
  net_.users[249].name = L"J\u00f6rg";
  const Json::Value answer = Serve(6003, R"({"request":"GETUSERS"})")["responseData"];
  EXPECT_EQ(net_.user_pages, 3);
  EXPECT_EQ(answer["actionName"], "getUsers");
  const Json::Value& users = answer["users"];
  ASSERT_EQ(users.size(), 250u);
  EXPECT_EQ(users[100]["USER_NAME"], "user100");  // the second page's first
  EXPECT_EQ(users[0], Parse(R"({"USER_NAME":"user0","HOME_DIRECTORY":"C:\\Users\\u0","DESCRIPTION":"",
                                "LAST_LOGON":"1700000000","ACCT_EXPIRES":"-1"})"));
  EXPECT_EQ(users[1]["LAST_LOGON"], "0");
  EXPECT_EQ(users[1]["ACCT_EXPIRES"], "-2147483648");
  EXPECT_EQ(users[249]["USER_NAME"], "J\u00f6rg");

  // A failing page ends the list with what the pages before it gave.
  net_.user_pages = 0;
  net_.failing_page = 1;
  EXPECT_EQ(Serve(6003, R"({"request":"getUsers"})")["responseData"]["users"].size(), 100u);
}

TEST_F(Groups, CodesWithoutWorkBuildNothing) {
  for (const auto& [code, data] : std::vector<std::pair<int, const char*>>{
           {6003, R"({"request":"list"})"}, {6003, "null"}, {6004, "{}"}, {6299, R"({"request":"getUsers"})"}}) {
    EXPECT_TRUE(Serve(code, data).isNull()) << code << " " << data;
    EXPECT_EQ(result_, 1) << code;
  }
  EXPECT_EQ(net_.user_pages, 0);
}

}  // namespace
