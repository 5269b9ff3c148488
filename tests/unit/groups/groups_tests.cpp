// Tool 6 through its dispatcher: groups from the fake WMI; local groups,
// members and users kept in memory behind the tool's NetApi table (Wine keeps
// none of them), handed out in NetApiBufferAllocate buffers, the users paged.
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

constexpr const wchar_t* kGroupQuery = L"SELECT * FROM Win32_Group Where LocalAccount = True";

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
  return value;
}

// Stands in the tool's table while it lives: entries in NetApiBufferAllocate
// buffers (their texts and SIDs stay the fake's), the system's codes.
class FakeGroupApi {
 public:
  struct Account {
    std::vector<BYTE> sid;
    SID_NAME_USE usage = SidTypeUser;
    std::optional<std::wstring> comment;  // set: NetUserGetInfo knows the account
  };
  struct User {
    std::wstring name;
    DWORD last_logon = 0, acct_expires = TIMEQ_FOREVER;
  };
  std::map<std::wstring, Account> accounts;                  // by "domain\name"
  std::map<std::wstring, std::vector<std::wstring>> groups;  // group -> member names, in order
  std::map<std::wstring, std::wstring> comments;             // group -> comment it was made with
  std::vector<User> users;
  int failing_page = -1;  // this user page (from 0) answers ERROR_ACCESS_DENIED
  int user_pages = 0;     // NetUserEnum calls served

  FakeGroupApi() {
    self_ = this;
    hk::groups::g_groupApi = {GetMembers, GetUser, Members<true>, Members<false>, AddGroup, DelGroup, EnumUsers};
  }
  ~FakeGroupApi() { hk::groups::g_groupApi = hk::groups::kSystemGroupApi; }

  Account& Add(const std::wstring& name, const wchar_t* sid, SID_NAME_USE usage) {
    Account& account = accounts[name];
    PSID binary = nullptr;
    ::ConvertStringSidToSidW(sid, &binary);
    account.sid.assign(static_cast<BYTE*>(binary), static_cast<BYTE*>(binary) + ::GetLengthSid(binary));
    ::LocalFree(binary);
    account.usage = usage;
    return account;
  }

 private:
  static inline FakeGroupApi* self_ = nullptr;

  template <typename Entry>
  static Entry* Allocate(size_t count, LPBYTE* buffer) {
    ::NetApiBufferAllocate(static_cast<DWORD>(count * sizeof(Entry)), reinterpret_cast<LPVOID*>(buffer));
    return static_cast<Entry*>(std::memset(*buffer, 0, count * sizeof(Entry)));
  }
  static NET_API_STATUS WINAPI GetMembers(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE* buffer, DWORD, LPDWORD read,
                                          LPDWORD total, PDWORD_PTR) {
    const auto found = self_->groups.find(group);
    if (level != 2) return ERROR_INVALID_LEVEL;
    if (found == self_->groups.end()) return NERR_GroupNotFound;
    auto* entry = Allocate<LOCALGROUP_MEMBERS_INFO_2>(found->second.size(), buffer);
    for (std::wstring& name : found->second) {
      Account& account = self_->accounts[name];
      *entry++ = {account.sid.data(), account.usage, name.data()};
    }
    *read = *total = static_cast<DWORD>(found->second.size());
    return NERR_Success;
  }
  static NET_API_STATUS WINAPI GetUser(LPCWSTR, LPCWSTR name, DWORD level, LPBYTE* buffer) {
    const auto found = self_->accounts.find(name);
    if (level != 1) return ERROR_INVALID_LEVEL;
    if (found == self_->accounts.end() || !found->second.comment) return NERR_UserNotFound;
    Allocate<USER_INFO_1>(1, buffer)->usri1_comment = found->second.comment->data();
    return NERR_Success;
  }
  template <bool add>
  static NET_API_STATUS WINAPI Members(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE buffer, DWORD count) {
    const auto found = self_->groups.find(group);
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
  static NET_API_STATUS WINAPI AddGroup(LPCWSTR, DWORD level, LPBYTE buffer, LPDWORD) {
    const auto* info = reinterpret_cast<LOCALGROUP_INFO_1*>(buffer);
    if (level != 1) return ERROR_INVALID_LEVEL;
    if (self_->groups.count(info->lgrpi1_name)) return ERROR_ALIAS_EXISTS;
    self_->groups[info->lgrpi1_name];
    self_->comments[info->lgrpi1_name] = info->lgrpi1_comment ? info->lgrpi1_comment : L"";
    return NERR_Success;
  }
  static NET_API_STATUS WINAPI DelGroup(LPCWSTR, LPCWSTR group) {
    return self_->groups.erase(group) ? NERR_Success : NERR_GroupNotFound;
  }
  // 100 users a page, as a small preferred length would give.
  static NET_API_STATUS WINAPI EnumUsers(LPCWSTR, DWORD level, DWORD filter, LPBYTE* buffer, DWORD, LPDWORD read,
                                         LPDWORD total, LPDWORD resume) {
    static wchar_t home[] = L"C:\\Home", note[] = L"note";
    if (level != 2 || filter != FILTER_NORMAL_ACCOUNT) return ERROR_INVALID_LEVEL;
    if (self_->user_pages++ == self_->failing_page) return ERROR_ACCESS_DENIED;
    const size_t first = *resume, count = std::min<size_t>(100, self_->users.size() - first);
    auto* entry = Allocate<USER_INFO_2>(count, buffer);
    for (size_t i = first; i < first + count; ++i, ++entry) {
      User& user = self_->users[i];
      entry->usri2_name = user.name.data();
      entry->usri2_home_dir = home;
      entry->usri2_comment = note;
      entry->usri2_last_logon = user.last_logon;
      entry->usri2_acct_expires = user.acct_expires;
    }
    *read = static_cast<DWORD>(count);
    *total = static_cast<DWORD>(self_->users.size());
    *resume = static_cast<DWORD>(first + count);
    return *resume < self_->users.size() ? ERROR_MORE_DATA : NERR_Success;
  }
};

class Groups : public hk::test::WmiLogTest {
 protected:
  // The response's data, or null when the dispatcher built none.
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
    return answer["responseData"];
  }

  hk::test::FakeWmi wmi_;
  FakeGroupApi net_;
  int result_ = -1;
};

TEST_F(Groups, ListCarriesEveryKindOfMember) {
  net_.Add(L"HOST\\alice", L"S-1-5-21-1-2-3-1001", SidTypeUser).comment = L"Front desk";
  net_.Add(L"HOST\\Team", L"S-1-5-21-1-2-3-1002", SidTypeGroup);
  net_.Add(L"NT AUTHORITY\\INTERACTIVE", L"S-1-5-4", SidTypeWellKnownGroup);
  net_.Add(L"HOST\\ghost", L"S-1-5-21-1-2-3-1003", SidTypeDeletedAccount).sid[0] = 9;  // bad revision
  net_.Add(L"HOST\\J\u00f6rg", L"S-1-5-21-1-2-3-1004", SidTypeUser).comment = L"Stra\u00dfe";
  net_.groups[L"Administrators"] = {L"HOST\\alice", L"HOST\\Team", L"NT AUTHORITY\\INTERACTIVE"};
  net_.groups[L"Empty"] = {};
  net_.groups[L"G\u00e4ste"] = {L"HOST\\ghost", L"HOST\\J\u00f6rg"};
  auto& rows = wmi_.Results(kGroupQuery);
  rows.AddRow()
      .Text(L"Caption", L"HOST\\Administrators")
      .Text(L"Description", L"Admins")
      .Text(L"Status", L"OK")
      .Text(L"SID", L"S-1-5-32-544")
      .UInt8(L"SIDType", 4)
      .Text(L"Domain", L"HOST")
      .Text(L"Name", L"Administrators");
  rows.AddNullObject();
  rows.AddRow().Text(L"Name", L"Empty").Null(L"Description", CIM_STRING).Int32(L"SIDType", 0x104);
  rows.AddRow().Text(L"Name", L"G\u00e4ste");
  EXPECT_EQ(Serve(6000, R"({"Groups":"all_groups"})"), Parse(R"({"groups":[
    {"CAPTION":"HOST\\Administrators","DESCRIPTION":"Admins","STATUS":"OK","SID":"S-1-5-32-544","SIDType":"4",
     "DOMAIN":"HOST","NAME":"Administrators","GROUP_ID":"0","MEMBERS":[
      {"MEMBER_ID":"0","SID":"S-1-5-21-1-2-3-1001","NAME":"HOST\\alice","DESCRIPTION":"Front desk","MEMBER_TYPE":"User"},
      {"MEMBER_ID":"1","SID":"S-1-5-21-1-2-3-1002","NAME":"HOST\\Team","DESCRIPTION":"--","MEMBER_TYPE":"Group"},
      {"MEMBER_ID":"2","SID":"S-1-5-4","NAME":"NT AUTHORITY\\INTERACTIVE","DESCRIPTION":"--","MEMBER_TYPE":"Group"}]},
    {"NAME":"Empty","SIDType":"4","GROUP_ID":"1","MEMBERS":null},
    {"NAME":"G\u00e4ste","GROUP_ID":"2","MEMBERS":[
      {"MEMBER_ID":"0","NAME":"HOST\\ghost","DESCRIPTION":"--","MEMBER_TYPE":"Others"},
      {"MEMBER_ID":"1","SID":"S-1-5-21-1-2-3-1004","NAME":"HOST\\J\u00f6rg","DESCRIPTION":"Stra\u00dfe",
       "MEMBER_TYPE":"User"}]}]})"));
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
  EXPECT_TRUE(Logged("GroupDetails::GetGroupDetails() Finished....!")) << Log();
}

TEST_F(Groups, ListFailuresKeepTheRowsBeforeOrAnswerNoGroupsFound) {
  wmi_.Results(kGroupQuery).AddRow().Text(L"Name", L"first");
  wmi_.Results(kGroupQuery).AddRow().Text(L"Name", L"second").ThrowOnGet(L"Domain");
  for (const char* data : {R"({"Groups":"Administrators"})", R"({"Groups":5})"}) {
    EXPECT_EQ(Serve(6000, data), Parse(R"({"groups":"no_Groups_found"})")) << data;
  }
  EXPECT_TRUE(wmi_.queries().empty());
  const Json::Value groups = Serve(6000, R"({"Groups":"All_Groups"})")["groups"];
  EXPECT_TRUE(groups.size() == 1 && groups[0]["NAME"] == "first") << groups;
  EXPECT_TRUE(Logged("GroupDetails::getGroupDetails() Exception occured ...!")) << Log();
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
  wmi_.Fail(hk::test::FakeWmiStep::kConnectServer);
  EXPECT_EQ(Serve(6000, R"({"Groups":"All_Groups"})")["groups"], "no_Groups_found");
}

TEST_F(Groups, MemberAndGroupActionsAnswerWithTheRemarkTables) {
  net_.Add(L"HOST\\bob", L"S-1-5-21-1-2-3-1001", SidTypeUser);
  net_.Add(L"H\u00d6ST\\J\u00f6rg", L"S-1-5-21-1-2-3-1002", SidTypeUser);
  net_.groups[L"Users"] = {};
  net_.groups[L"G\u00e4ste"] = {};
  const char* kAdded = "Success fully added this group Member";
  const char* kNoAccount = "AccountName Empty or Null";
  struct Step {
    int code;
    std::string request, group, domain, user;
    const char *name, *result, *remarks;
  };
  const Step steps[] = {
      {6001, "add", "Users", "HOST", "bob", "AddMember", "Success", kAdded},
      {6001, "Add", "Users", "HOST", "bob", "AddMember", "Failed",
       "One or more of the members specified were already members of the local group. No new members were added."},
      {6001, "Delete", "Users", "HOST", "bob", "DelMember", "Success", "Success fully deleted this group Member"},
      {6001, "del", "Users", "HOST", "nobody", "DelMember", "Failed",
       "One or more of the members specified do not exist. Therefore, no new members were deleted."},
      {6001, "add", "Users", "", "bob", "AddMember", "Failed", kNoAccount},
      {6001, "", "Users", "HOST", "", "DelMember", "Failed", kNoAccount},
      {6001, "add", "G\xC3\xA4ste", "H\xC3\x96ST", "J\xC3\xB6rg", "AddMember", "Success", kAdded},
      {6002, "add", "Helpers", "", "", "AddGroup", "Success", "Success fully added this group"},
      {6002, "Add", "Helpers", "", "", "AddGroup", "Failed", "The specified local group already exists."},
      {6002, "Delete", "Helpers", "", "", "DelGroup", "Success", "Success fully deleted this group"},
      {6002, "del", "Helpers", "", "", "DelGroup", "Failed",
       "The local group specified by the groupname parameter does not exist."},
  };
  for (const Step& s : steps) {
    const std::string data = R"({"Description":"Help desk","request":")" + s.request + R"(","Groups":")" + s.group +
                             R"(","domainName":")" + s.domain + R"(","userName":")" + s.user + "\"}";
    EXPECT_EQ(Serve(s.code, data), Parse(std::string(R"({"actionName":")") + s.name + R"(","actionResult":")" +
                                         s.result + R"(","remarks":")" + s.remarks + "\"}"))
        << s.code << " " << data;
  }
  EXPECT_EQ(net_.groups[L"G\u00e4ste"], std::vector<std::wstring>{L"H\u00d6ST\\J\u00f6rg"});
  EXPECT_EQ(net_.comments[L"Helpers"], L"Help desk");
}

TEST_F(Groups, UsersArePagedAndAFailingPageKeepsThePagesBefore) {
  for (int i = 0; i < 250; ++i) net_.users.push_back({L"user" + std::to_wstring(i), 1700000000u + i});
  net_.users[1] = {L"J\u00f6rg", 0, 0x80000000u};
  const Json::Value answer = Serve(6003, R"({"request":"GETUSERS"})");
  EXPECT_EQ(net_.user_pages, 3);
  EXPECT_EQ(answer["actionName"], "getUsers");
  const Json::Value& users = answer["users"];
  ASSERT_EQ(users.size(), 250u);
  EXPECT_EQ(users[100]["USER_NAME"], "user100");  // the second page's first
  EXPECT_EQ(users[0], Parse(R"({"USER_NAME":"user0","HOME_DIRECTORY":"C:\\Home","DESCRIPTION":"note",
                                "LAST_LOGON":"1700000000","ACCT_EXPIRES":"-1"})"));
  EXPECT_EQ(users[1], Parse(R"({"USER_NAME":"J\u00f6rg","HOME_DIRECTORY":"C:\\Home","DESCRIPTION":"note",
                                "LAST_LOGON":"0","ACCT_EXPIRES":"-2147483648"})"));
  net_.user_pages = 0;
  net_.failing_page = 1;
  EXPECT_EQ(Serve(6003, R"({"request":"getUsers"})")["users"].size(), 100u);
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
