// Tool 6 through its dispatcher: groups from the fake WMI; local groups,
// members and users kept in memory behind the tool's NetApi table (Wine keeps
// none of them), handed out in NetApiBufferAllocate buffers, the users paged.
#include <windows.h>
#include <lm.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "infra/win_resource.h"
#include "support/fake_wmi.h"
#include "support/formatter_request.h"
#include "tools/groups/group_api.h"
#include "tools/groups/groups.h"

namespace {

using namespace hk::test;

constexpr const wchar_t* kGroupQuery = L"SELECT * FROM Win32_Group Where LocalAccount = True";

// Stands in the tool's table while it lives: entries in NetApiBufferAllocate
// buffers (their texts and SIDs stay the fake's), the system's codes.
class FakeGroupApi {
 public:
  struct Account {
    const wchar_t* sid;  // one that does not convert is handed out as a null SID
    SID_NAME_USE usage = SidTypeUser;
    std::optional<std::wstring> comment = {};  // set: NetUserGetInfo knows the account
  };
  struct User {
    std::wstring name;
    DWORD last_logon = 0, acct_expires = TIMEQ_FOREVER;
  };
  std::map<std::wstring, Account> accounts;                  // by "domain\name"
  std::map<std::wstring, std::vector<std::wstring>> groups;  // group -> member names, in order
  std::vector<User> users;
  NET_API_STATUS status = NERR_Success;  // what a change answers
  std::wstring change;                   // the last one: "add <group> <account>", "new <group> <comment>", ...
  int failing_page = -1;                 // this user page (from 0) answers ERROR_ACCESS_DENIED
  int user_pages = 0;                    // NetUserEnum calls served

  FakeGroupApi() {
    self_ = this;
    hk::groups::g_groupApi = {GetMembers, GetUser, Members<true>, Members<false>, AddGroup, DelGroup, EnumUsers};
  }
  ~FakeGroupApi() { hk::groups::g_groupApi = hk::groups::kSystemGroupApi; }

 private:
  static inline FakeGroupApi* self_ = nullptr;
  std::vector<hk::unique_hlocal> sids_;

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
      PSID sid = nullptr;
      ::ConvertStringSidToSidW(self_->accounts[name].sid, &sid);
      *entry++ = {self_->sids_.emplace_back(sid).get(), self_->accounts[name].usage, name.data()};
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
  static NET_API_STATUS WINAPI Members(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE buffer, DWORD count) {
    if (server || level != 3 || count != 1) return ERROR_INVALID_PARAMETER;
    const wchar_t* account = reinterpret_cast<LOCALGROUP_MEMBERS_INFO_3*>(buffer)->lgrmi3_domainandname;
    self_->change = (add ? L"add " : L"del ") + std::wstring(group) + L" " + account;
    return self_->status;
  }
  static NET_API_STATUS WINAPI AddGroup(LPCWSTR server, DWORD level, LPBYTE buffer, LPDWORD) {
    const auto* info = reinterpret_cast<LOCALGROUP_INFO_1*>(buffer);
    if (server || level != 1) return ERROR_INVALID_PARAMETER;
    self_->change = L"new " + std::wstring(info->lgrpi1_name) + L" " + (info->lgrpi1_comment ?: L"(none)");
    return self_->status;
  }
  static NET_API_STATUS WINAPI DelGroup(LPCWSTR server, LPCWSTR group) {
    self_->change = L"drop " + std::wstring(group);
    return server ? ERROR_INVALID_PARAMETER : self_->status;
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

class Groups : public WmiLogTest {
 protected:
  Json::Value Serve(int code, const std::string& data) { return AskData(hk::groups::DispatchRequest, code, data); }

  FakeWmi wmi_;
  FakeGroupApi net_;
};

TEST_F(Groups, ListCarriesEveryKindOfMemberOnlyForTheKeywordAndKeepsTheRowsBeforeAFailure) {
  net_.accounts = {{L"HOST\\alice", {L"S-1-5-21-1-2-3-1001", SidTypeUser, L"Front desk"}},
                   {L"HOST\\Team", {L"S-1-5-21-1-2-3-1002", SidTypeGroup}},
                   {L"HOST\\Helpers", {L"S-1-5-?", SidTypeAlias}},
                   {L"HOST\\J\u00f6rg", {L"S-1-5-21-1-2-3-1004", SidTypeUser, L"Stra\u00dfe"}}};
  net_.groups[L"Administrators"] = {L"HOST\\alice", L"HOST\\Team"};
  net_.groups[L"Empty"] = {};
  net_.groups[L"G\u00e4ste"] = {L"HOST\\Helpers", L"HOST\\J\u00f6rg"};
  auto& rows = wmi_.Results(kGroupQuery);
  auto& admins = rows.AddRow().Text(L"Caption", L"HOST\\Administrators").Text(L"Description", L"Admins");
  admins.Text(L"Status", L"OK").Text(L"SID", L"S-1-5-32-544").UInt8(L"SIDType", 4).Text(L"Domain", L"HOST");
  admins.Text(L"Name", L"Administrators");
  rows.AddNullObject();
  rows.AddRow().Text(L"Name", L"Empty").Null(L"Description", CIM_STRING).Int32(L"SIDType", 0x104);
  rows.AddRow().Text(L"Name", L"G\u00e4ste");
  for (const char* data : {R"({"Groups":"Administrators"})", R"({"Groups":5})"}) {
    EXPECT_EQ(Serve(6000, data), Parse(R"({"groups":"no_Groups_found"})")) << data;
  }
  EXPECT_TRUE(wmi_.queries().empty());
  const Json::Value listed = Serve(6000, R"({"Groups":"all_groups"})");
  EXPECT_EQ(listed, Parse(R"({"groups":[
    {"CAPTION":"HOST\\Administrators","DESCRIPTION":"Admins","STATUS":"OK","SID":"S-1-5-32-544","SIDType":"4",
     "DOMAIN":"HOST","NAME":"Administrators","GROUP_ID":"0","MEMBERS":[
      {"MEMBER_ID":"0","SID":"S-1-5-21-1-2-3-1001","NAME":"HOST\\alice","DESCRIPTION":"Front desk","MEMBER_TYPE":"User"},
      {"MEMBER_ID":"1","SID":"S-1-5-21-1-2-3-1002","NAME":"HOST\\Team","DESCRIPTION":"--","MEMBER_TYPE":"Group"}]},
    {"NAME":"Empty","SIDType":"4","GROUP_ID":"1","MEMBERS":null},
    {"NAME":"G\u00e4ste","GROUP_ID":"2","MEMBERS":[
      {"MEMBER_ID":"0","NAME":"HOST\\Helpers","DESCRIPTION":"--","MEMBER_TYPE":"Others"},
      {"MEMBER_ID":"1","SID":"S-1-5-21-1-2-3-1004","NAME":"HOST\\J\u00f6rg","DESCRIPTION":"Stra\u00dfe",
       "MEMBER_TYPE":"User"}]}]})"));
  EXPECT_TRUE(Logged("GroupDetails::GetGroupDetails() Finished....!")) << Log();
  rows.AddRow().Text(L"Name", L"thrown").ThrowOnGet(L"Domain");
  EXPECT_EQ(Serve(6000, R"({"Groups":"All_Groups"})"), listed);  // the rows before a failing one stay
  EXPECT_TRUE(Logged("GroupDetails::getGroupDetails() Exception occured ...!")) << Log();
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
  wmi_.Fail(FakeWmiStep::kConnectServer);
  EXPECT_EQ(Serve(6000, R"({"Groups":"All_Groups"})")["groups"], "no_Groups_found");
}

TEST_F(Groups, MemberAndGroupActionsPassTheNamesAndAnswerWithTheRemarkTables) {
  const char* kAdded = "Success fully added this group Member";
  const char* kNoAccount = "AccountName Empty or Null";
  // The request's "request", "Groups", "domainName" and "userName"; what the system answers; the change it
  // was asked for; the answer's "actionName", "actionResult" and "remarks".
  const std::tuple<int, std::string, NET_API_STATUS, const wchar_t*, const char*, const char*, const char*> steps[] = {
      {6001, R"("add","Users","HOST","bob")", 0, L"add Users HOST\\bob", "AddMember", "Success", kAdded},
      {6001, R"("Add","Users","HOST","bob")", 1378, L"add Users HOST\\bob", "AddMember", "Failed",
       "One or more of the members specified were already members of the local group. No new members were added."},
      {6001, R"("del","Users","HOST","bob")", 1378, L"del Users HOST\\bob", "DelMember", "Failed",
       "One or more of the members specified were already members of the local group. No new members were deleted."},
      {6001, R"("add","Users","","bob")", 0, L"", "AddMember", "Failed", kNoAccount},
      {6001, R"("","Users","HOST","")", 0, L"", "DelMember", "Failed", kNoAccount},
      {6001, R"("add","G\u00e4ste","H\u00d6ST","J\u00f6rg")", 0, L"add G\u00e4ste H\u00d6ST\\J\u00f6rg", "AddMember",
       "Success", kAdded},
      {6002, R"("add","Helpers","","")", 0, L"new Helpers Help desk", "AddGroup", "Success",
       "Success fully added this group"},
      {6002, R"("Add","Helpers","","")", 1379, L"new Helpers Help desk", "AddGroup", "Failed",
       "The specified local group already exists."},
      {6002, R"("del","Helpers","","")", 2220, L"drop Helpers", "DelGroup", "Failed",
       "The local group specified by the groupname parameter does not exist."},
  };
  for (const auto& [code, fields, status, change, name, result, remarks] : steps) {
    const Json::Value values = Parse("[" + fields + "]");
    Json::Value request = Parse(R"({"Description":"Help desk"})");
    for (int i = 0; const char* key : {"request", "Groups", "domainName", "userName"}) request[key] = values[i++];
    net_.status = status;
    net_.change.clear();
    EXPECT_EQ(Serve(code, request.toStyledString()),
              Parse(std::string(R"({"actionName":")") + name + R"(","actionResult":")" + result + R"(","remarks":")" +
                    remarks + "\"}"))
        << fields;
    EXPECT_EQ(net_.change, change) << fields;
  }
}

TEST_F(Groups, UsersArePagedAFailingPageKeepsThePagesBeforeAndOtherRequestsBuildNothing) {
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
  for (const auto& [code, data] : {std::pair{6003, R"({"request":"list"})"}, {6003, "null"}, {6004, "{}"}})
    EXPECT_TRUE(Serve(code, data).isNull()) << code << " " << data;  // nothing to do: nothing built
  EXPECT_EQ(net_.user_pages, 2);
}

}  // namespace
