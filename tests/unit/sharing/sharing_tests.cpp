// Tool 8 on a fake NetApi and share ACLs (Wine has none of them) and the fake
// WMI; account names, host names, system texts and exceptions are Wine's own.
// Then the plain part: texts at their edges, request texts read as numbers.
#include <windows.h>
#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>

#include "infra/win_resource.h"
#include "support/fake_wmi.h"
#include "support/formatter_request.h"
#include "tools/sharing/guarded_call.h"
#include "tools/sharing/sharing.h"
#include "tools/sharing/sharing_api.h"

namespace {

using namespace hk::sharing;
using namespace hk::test;

std::vector<BYTE> Descriptor(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR made = nullptr;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &made, nullptr);
  const hk::unique_hlocal owner(made);
  return std::vector<BYTE>(static_cast<BYTE*>(made), static_cast<BYTE*>(made) + ::LocalSize(made));
}

struct FakeShare {
  std::wstring name;
  std::vector<BYTE> descriptor = Descriptor(L"D:(A;;0x1F01FF;;;WD)");  // Everyone has full control; empty: none
  DWORD type = STYPE_DISKTREE, permissions = ACCESS_ALL, maxUses = SHI_USES_UNLIMITED, currentUses = 0;
  DWORD securityFailure = 0, entriesFailure = 0;  // answers of GetNamedSecurityInfoW, GetExplicitEntriesFromAclW
};

// Stands in the tool's table while it lives: entries in NetApiBufferAllocate
// buffers, ERROR_MORE_DATA paging, real self-relative descriptors read by the
// real GetExplicitEntriesFromAclW, real error codes.
class FakeSharingApi {
 public:
  std::vector<FakeShare> shares;
  std::vector<SESSION_INFO_502> sessions;  // their texts are the test's
  std::vector<FILE_INFO_3> files;
  std::map<std::wstring, DWORD> failures;  // what a NetApi function answers; kUnimplementedFunction raises
  DWORD pageSize = 0;                      // entries per enumeration call; 0: all at once
  std::vector<std::wstring> calls;         // the acting calls: "NetShareDel Docs", ...
  std::set<void*> live;                    // buffers handed out, not yet freed through the table

  FakeSharingApi() {
    self_ = this;
    g_sharingApi = {ShareEnum, ShareSetInfo, ShareDel,   SessionEnum,  SessionDel,
                    FileEnum,  FileClose,    BufferFree, SecurityInfo, ExplicitEntries};
  }
  ~FakeSharingApi() {
    g_sharingApi = RealSharingApi();
    for (void* buffer : live) ::NetApiBufferFree(buffer);
  }

 private:
  static inline FakeSharingApi* self_ = nullptr;
  std::vector<SHARE_INFO_502> shareInfos_;
  DWORD entriesFailure_ = 0;

  // First in every NetApi fake, before anything needs a destructor.
  static DWORD Failure(const wchar_t* function) {
    const auto found = self_->failures.find(function);
    if (found == self_->failures.end()) return 0;
    if (found->second == kUnimplementedFunction) {  // raised as Wine raises it for a function its DLL lacks
      static std::string name;                      // outlives the abandoned call, as Wine's names do
      name.assign(found->first.begin(), found->first.end());
      const ULONG_PTR names[] = {reinterpret_cast<ULONG_PTR>("netapi32.dll"),
                                 reinterpret_cast<ULONG_PTR>(name.c_str())};
      ::RaiseException(kUnimplementedFunction, EXCEPTION_NONCONTINUABLE, 2, names);
    }
    return found->second;
  }
  template <typename Entry, typename Resume>
  static NET_API_STATUS Serve(const wchar_t* function, bool valid, const std::vector<Entry>& items, LPBYTE* buffer,
                              DWORD* read, DWORD* total, Resume* resume) {
    *buffer = nullptr;
    *read = *total = 0;
    if (!valid) return ERROR_INVALID_PARAMETER;
    if (const DWORD failure = Failure(function)) return failure;
    const size_t first = *resume, left = items.size() - first;
    const size_t count = self_->pageSize && left > self_->pageSize ? self_->pageSize : left;
    *total = static_cast<DWORD>(left);
    if (count == 0) return NERR_Success;
    ::NetApiBufferAllocate(static_cast<DWORD>(count * sizeof(Entry)), reinterpret_cast<void**>(buffer));
    self_->live.insert(std::memcpy(*buffer, items.data() + first, count * sizeof(Entry)));
    *read = static_cast<DWORD>(count);
    *resume = static_cast<Resume>(first + count < items.size() ? first + count : 0);
    return *resume ? ERROR_MORE_DATA : NERR_Success;
  }

  static NET_API_STATUS WINAPI ShareEnum(LMSTR server, DWORD level, LPBYTE* buffer, DWORD, LPDWORD read, LPDWORD total,
                                         LPDWORD resume) {
    static wchar_t remark[] = L"", path[] = L"C:\\Shared";
    self_->shareInfos_.clear();
    for (FakeShare& s : self_->shares) {
      self_->shareInfos_.push_back({s.name.data(), s.type, remark, s.permissions, s.maxUses, s.currentUses, path,
                                    nullptr, 0, s.descriptor.empty() ? nullptr : s.descriptor.data()});
    }
    return Serve(L"NetShareEnum", !server && level == 502, self_->shareInfos_, buffer, read, total, resume);
  }
  static NET_API_STATUS WINAPI ShareSetInfo(LMSTR server, LMSTR name, DWORD level, LPBYTE buffer, LPDWORD) {
    const DWORD result = Failure(L"NetShareSetInfo");
    const DWORD maxUses = reinterpret_cast<SHARE_INFO_1006*>(buffer)->shi1006_max_uses;
    self_->calls.push_back(L"NetShareSetInfo " + std::wstring(name) + L" " + std::to_wstring(maxUses));
    return server || level != 1006 ? ERROR_INVALID_PARAMETER : result;
  }
  static NET_API_STATUS WINAPI ShareDel(LMSTR server, LMSTR name, DWORD) {
    const DWORD result = Failure(L"NetShareDel");
    self_->calls.push_back(L"NetShareDel " + std::wstring(name));
    ::SetLastError(result);
    return server ? ERROR_INVALID_PARAMETER : result;
  }
  static NET_API_STATUS WINAPI SessionEnum(LMSTR server, LMSTR client, LMSTR user, DWORD level, LPBYTE* buffer, DWORD,
                                           LPDWORD read, LPDWORD total, LPDWORD resume) {
    return Serve(L"NetSessionEnum", !server && !client && !user && level == 502, self_->sessions, buffer, read, total,
                 resume);
  }
  static NET_API_STATUS WINAPI SessionDel(LMSTR server, LMSTR client, LMSTR user) {
    const NET_API_STATUS result = Failure(L"NetSessionDel");
    self_->calls.push_back(L"NetSessionDel " + std::wstring(client) + L" " + user);
    return server ? ERROR_INVALID_PARAMETER : result;
  }
  static NET_API_STATUS WINAPI FileEnum(LMSTR server, LMSTR base, LMSTR user, DWORD level, LPBYTE* buffer, DWORD,
                                        LPDWORD read, LPDWORD total, PDWORD_PTR resume) {
    return Serve(L"NetFileEnum", !server && !base && !user && level == 3, self_->files, buffer, read, total, resume);
  }
  static NET_API_STATUS WINAPI FileClose(LMSTR server, DWORD id) {
    const DWORD result = Failure(L"NetFileClose");
    self_->calls.push_back(L"NetFileClose " + std::to_wstring(id));
    return server ? ERROR_INVALID_PARAMETER : result;
  }
  static NET_API_STATUS WINAPI BufferFree(LPVOID buffer) {
    return self_->live.erase(buffer) ? ::NetApiBufferFree(buffer) : ERROR_INVALID_PARAMETER;
  }
  static DWORD WINAPI SecurityInfo(LPCWSTR object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID*, PSID*,
                                   PACL* dacl, PACL*, PSECURITY_DESCRIPTOR* descriptor) {
    if (type != SE_LMSHARE || info != DACL_SECURITY_INFORMATION || !dacl || !descriptor) return ERROR_INVALID_PARAMETER;
    const std::wstring name = object;
    const auto share =
        std::ranges::find(self_->shares, name.starts_with(L"\\\\.\\") ? name.substr(4) : name, &FakeShare::name);
    if (share == self_->shares.end()) return NERR_NetNameNotFound;
    if (share->securityFailure) return share->securityFailure;
    // In LocalAlloc memory, as the security calls hand it out.
    *descriptor = std::memcpy(::LocalAlloc(LMEM_FIXED, share->descriptor.size()), share->descriptor.data(),
                              share->descriptor.size());
    BOOL present = FALSE, defaulted = FALSE;
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    self_->entriesFailure_ = share->entriesFailure;  // for the DACL just handed out
    return ERROR_SUCCESS;
  }
  static DWORD WINAPI ExplicitEntries(PACL acl, PULONG count, PEXPLICIT_ACCESS_W* entries) {
    return self_->entriesFailure_ ? self_->entriesFailure_ : ::GetExplicitEntriesFromAclW(acl, count, entries);
  }
};

class Sharing : public WmiLogTest {
 protected:
  void TearDown() override {
    EXPECT_TRUE(fake_.live.empty()) << "NetApi buffers left unfreed";
    WmiLogTest::TearDown();
  }
  Json::Value Dispatch(int code, const std::string& data = "{}") { return AskData(HandleShareRequest, code, data); }

  FakeSharingApi fake_;
  FakeWmi wmi_;
};

TEST_F(Sharing, ListsAreCountedWholeAndCutAtAHundredRows) {
  for (const auto& [entries, pageSize, exceeded] : {std::tuple{100, 0u, false}, {101, 7u, true}}) {
    const std::string name = std::to_string(entries) + " entries, pages of " + std::to_string(pageSize);
    fake_.shares.clear();
    for (int i = 0; i < entries; ++i) fake_.shares.push_back({.name = L"share" + std::to_wstring(i)});
    wchar_t loopback[] = L"127.0.0.1";  // a quick lookup
    fake_.sessions.assign(entries, {loopback, nullptr, 0, 0, 0, 0, nullptr, nullptr});
    fake_.files.assign(entries, {});
    fake_.pageSize = pageSize;
    Json::Value lists;
    ListShares(lists);
    ListSessions(lists);
    ListOpenFiles(lists);
    EXPECT_EQ(lists["Shares"][99]["SHARE_NAME"], "share99") << name;
    for (const char* list : {"Shares", "Sessions", "OpenFiles"}) lists[list] = static_cast<int>(lists[list].size());
    const std::string count = '"' + std::to_string(entries) + '"', more = exceeded ? "true" : "false";
    EXPECT_EQ(lists, Parse(R"({"Shares":100,"Sessions":100,"OpenFiles":100,"shareCount":)" + count +
                           R"(,"sessionCount":)" + count + R"(,"fileCount":)" + count + R"(,"isSharesExceeded":)" +
                           more + R"(,"isSessionExceeded":)" + more + R"(,"isfileCountExceeded":)" + more + "}"))
        << name;
  }
}

TEST_F(Sharing, RowsReadTheirFieldsAsUnsignedValuesAndUtf8) {
  fake_.shares = {{.name = L"C$", .descriptor = {}, .type = 0x80000000u, .permissions = 3, .currentUses = 2},
                  {.name = L"B\u00fccher", .type = 0x80000003u, .maxUses = 10}};
  wchar_t client[] = L"FRONTDESK-PC", user[] = L"J\u00fcrgen", type[] = L"DOS LM 2.0", ip[] = L"127.0.0.1";
  wchar_t transport[] = L"\\Device\\N\u00e9tBT", path[] = L"C:\\Shared\\a.txt";
  fake_.sessions = {{client, user, 4, 30, 5, SESS_GUEST, type, transport}, {ip, user, 0, 0, 0, 0, type, transport}};
  fake_.files = {{4000000000u, PERM_FILE_READ | PERM_FILE_CREATE, 2, path, user}};
  const Json::Value shares = Dispatch(8000, R"({"SHARE_NAME":"All_Shares"})")["Shares"];
  EXPECT_EQ(shares[0], Parse(R"({"SHARE_NAME":"C$","SHARE_TYPE":"Special Share","SHARE_DESCRIPTION":"",
      "SHARE_PERMISSION":"","SHARE_MAX_USES":"Maximum Allowed","SHARE_CURR_USES":"2","SHARE_PATH":"C:\\Shared",
      "SHARE_MEMBERS":null})"));
  EXPECT_EQ(shares[1]["SHARE_NAME"].asString() + "|" + shares[1]["SHARE_TYPE"].asString() + "|" +
                shares[1]["SHARE_MAX_USES"].asString() + "|" + shares[1]["SHARE_MEMBERS"][0]["SHARE_NAME"].asString(),
            "B\303\274cher||10|B\303\274cher");
  EXPECT_EQ(Dispatch(8000, R"({"SHARE_NAME":"Docs"})")["Shares"], "no_Shares_found");  // not the keyword
  const Json::Value sessions = Dispatch(8005)["Sessions"];
  const std::string loopback = sessions[1]["SESSION_COMPUTER_NAME"].asString();  // a name a lookup found
  EXPECT_TRUE(loopback != "127.0.0.1" && !loopback.empty() && Logged("getnameinfo returned hostname = " + loopback));
  EXPECT_TRUE(log_->contains("getnameinfo failed with error # ")) << Log();  // for FRONTDESK-PC
  EXPECT_EQ(sessions[0], Parse(R"({"SESSION_COMPUTER_NAME":"FRONTDESK-PC",
      "SESSION_USER_NAME":"J\u00fcrgen","SESSION_NUM_OPENS":"4","SESSION_ACTIVE_TIME":"30","SESSION_IDLE_TIME":"5",
      "SESSION_USER_FLAGS":")" +
                               std::string(SessionUserFlagsText(SESS_GUEST)) + R"(",
      "SESSION_CLIENT_TYPE_NAME":"LAN Manager for MS-DOS 2.0 clients.","SESSION_TRANSPORT_NAME":"\\Device\\N\u00e9tBT"})"));
  EXPECT_EQ(Dispatch(8010)["OpenFiles"][0], Parse(R"({"FILE_INFO_ID":"4000000000","FILE_INFO_PERMISSION":"READ,CREATE",
      "FILE_INFO_NUM_LOCKS":"2","FILE_INFO_PATH_NAME":"C:\\Shared\\a.txt","FILE_INFO_USER_NAME":"J\u00fcrgen"})"));
  fake_.sessions.clear();
  EXPECT_EQ(Dispatch(8005), Parse(R"({"Sessions":null,"isSessionExceeded":false,"sessionCount":"0"})"));
}

TEST_F(Sharing, MembersCarryTheAccountAndTheFlagsOfEachEntryAndAnUnreadableAclNone) {
  // Share-level masks as the share permission dialog writes them (full, change, read), an unknown SID last.
  fake_.shares = {{.name = L"Docs",
                   .descriptor = Descriptor(L"D:(A;;0x1F01FF;;;WD)(A;;0x1301BF;;;BA)(A;;0x1200A9;;;BU)"
                                            L"(D;;0x1F01FF;;;BG)(D;;0x1301BF;;;WD)(D;;0x1200A9;;;S-1-5-21-1-2-3-4)")},
                  {.name = L"Invalid", .descriptor = std::vector<BYTE>(20)},  // of revision 0, which is no valid one
                  {.name = L"Denied", .securityFailure = ERROR_ACCESS_DENIED},
                  {.name = L"BadAcl", .entriesFailure = ERROR_INVALID_ACL}};
  Json::Value data;
  ListShares(data);
  std::vector<std::string> members;
  for (const Json::Value& member : data["Shares"][0]["SHARE_MEMBERS"]) {
    members.push_back(member["USER_NAME"].asString() + " ");
    for (const char* key : {"ACCESS_FULL", "ACCESS_CHANGE", "ACCESS_READ", "DENY_FULL", "DENY_CHANGE", "DENY_READ"})
      members.back() += member[key].asString();
  }
  EXPECT_EQ(members, (std::vector<std::string>{"Everyone 111000", "Administrators 011000", "Users 001000",
                                               "Guests 000111", "Everyone 000011", "- 000001"}));
  for (Json::ArrayIndex i = 1; i < 4; ++i) EXPECT_TRUE(data["Shares"][i]["SHARE_MEMBERS"].isNull()) << i;
  for (const char* line : {"Display ErrorStatus - 1", "Clean GetSharePermission - pEa", "Display ErrorStatus - 5",
                           "Error status GetSharePermission", "GetExplicitEntriesFromAcl Error Status - 1336",
                           "GetSharePermission func failed..."})
    EXPECT_TRUE(Logged(line)) << line << "\n" << Log();
}

TEST_F(Sharing, ActionsPassTheirRequestAndAnswerStatusAndRemarks) {
  const DWORD missing = kUnimplementedFunction;  // as Wine's netapi32 lacks some of them
  const std::string notImplemented = SystemErrorText(ERROR_CALL_NOT_IMPLEMENTED);
  // The request; what the system answers; the call it gets; the answer's "Status" and "Remarks".
  const std::tuple<int, const char*, DWORD, const wchar_t*, const char*, std::string> table[] = {
      {8001, R"({"SHARE_NAME":"Docs","MAX_USES":"-1"})", 0, L"NetShareSetInfo Docs 4294967295", "SUCCESS",
       "Successfully set this share Info"},
      {8001, R"({"SHARE_NAME":"Nope","MAX_USES":25})", NERR_NetNameNotFound, L"NetShareSetInfo Nope 25", "Failed",
       SystemErrorText(NERR_NetNameNotFound)},
      {8001, "{}", missing, nullptr, "Failed", notImplemented},
      {8002, R"({"SHARE_NAME":"B\u00fccher"})", 0, L"NetShareDel B\u00fccher", "Success",
       "Successfully delete this Share"},
      {8002, R"({"SHARE_NAME":"Gone"})", NERR_NetNameNotFound, L"NetShareDel Gone", "Failed",
       ComErrorText(NERR_NetNameNotFound)},
      {8002, "{}", missing, nullptr, "Failed", ComErrorText(ERROR_CALL_NOT_IMPLEMENTED)},
      {8006, R"({"UNC_CLIENT_NAME":"10.0.0.7","USER_NAME":"J\u00fcrgen"})", 0, L"NetSessionDel 10.0.0.7 J\u00fcrgen",
       "Success", "Successfully delete this Session"},
      {8006, R"({"UNC_CLIENT_NAME":"x","USER_NAME":"y"})", ERROR_ACCESS_DENIED, L"NetSessionDel x y", "Failed",
       SystemErrorText(ERROR_ACCESS_DENIED)},
      {8011, R"({"FILE_INFO_ID":"4000000000"})", 0, L"NetFileClose 4000000000", "Success", "File Closed Successfully"},
      {8011, "{}", missing, nullptr, "Failed", notImplemented},
  };
  for (const auto& [code, request, failure, call, status, remarks] : table) {
    for (const wchar_t* function : {L"NetShareSetInfo", L"NetShareDel", L"NetSessionDel", L"NetFileClose"})
      fake_.failures[function] = failure;
    fake_.calls.clear();
    const Json::Value data = Dispatch(code, request);
    EXPECT_EQ(fake_.calls, call ? std::vector<std::wstring>{call} : std::vector<std::wstring>{}) << request;
    EXPECT_EQ(data["Status"], status) << request;
    EXPECT_EQ(data["Remarks"], remarks) << request;
  }
  for (const char* function : {"NetShareSetInfo", "NetShareDel", "NetFileClose"})
    EXPECT_TRUE(Logged(std::string(function) + " is not implemented on this system")) << function;
}

TEST_F(Sharing, FailedListsAreAnsweredAsDataAndOtherCodesNotAtAll) {
  fake_.failures = {{L"NetShareEnum", ERROR_NOT_SUPPORTED},
                    {L"NetSessionEnum", ERROR_ACCESS_DENIED},
                    {L"NetFileEnum", kUnimplementedFunction}};
  EXPECT_EQ(Dispatch(8000, R"({"SHARE_NAME":"All_Shares"})"),
            Parse(R"({"Shares":"no_Shares_found","isSharesExceeded":false,"shareCount":""})"));
  EXPECT_EQ(Dispatch(8005),
            Parse(R"({"Status":"Failed","Sessions":null,"Remarks":")" + SystemErrorText(ERROR_ACCESS_DENIED) + "\"}"));
  EXPECT_EQ(Dispatch(8010), Parse(R"({"Status":"Failed","OpenFiles":null,"Remarks":")" +
                                  SystemErrorText(ERROR_CALL_NOT_IMPLEMENTED) + "\"}"));
  EXPECT_TRUE(Logged("NetFileEnum is not implemented on this system")) << Log();
  Json::Value response;
  char* text = nullptr;
  EXPECT_EQ(HandleShareRequest(8004, nullptr, &response, &text), 1);
  EXPECT_TRUE(text == nullptr && response.isNull());
}

TEST_F(Sharing, AccountsFromWin32Account) {
  auto& results = wmi_.Results(L"select * from Win32_Account");
  auto& row = results.AddRow().Text(L"Description", L"Built-in account").Text(L"Domain", L"HOST");
  row.Bool(L"LocalAccount", true).Text(L"Name", L"Administrat\u00f6r").Text(L"SID", L"S-1-5-21-1-2-3-500");
  row.UInt8(L"SIDType", 1).Text(L"Status", L"OK");
  results.AddNullObject();
  results.AddRow().Null(L"Description", CIM_STRING).Text(L"Name", L"Users").Null(L"SIDType", CIM_UINT8);
  EXPECT_EQ(Dispatch(8003), Parse(R"({"Accounts":[
      {"INDEX":"0","DESCRIPTION":"Built-in account","STATUS":"OK","SID":"S-1-5-21-1-2-3-500","SIDType":"1",
       "DOMAIN":"HOST","NAME":"Administrat\u00f6r"},
      {"INDEX":"1","DESCRIPTION":"","STATUS":"","SID":"","SIDType":"0","DOMAIN":"","NAME":"Users"}]})"));
  EXPECT_TRUE(Logged("AcctDetails::GetGroupDetails() Finished....!")) << Log();
  results.FailExecQuery();
  EXPECT_EQ(Dispatch(8003), Parse(R"({"Accounts":"no_Accounts_found"})"));
  EXPECT_TRUE(Logged("AcctDetails::GetAccctDetails() Failed to Enumerate...!")) << Log();
  EXPECT_TRUE(wmi_.AllReleasedOnce()) << wmi_.Accounting();
}

// The texts and numbers the operation tests do not already show.
TEST(SharingTexts, WholeValuesEdgesAndRequestNumbers) {
  const std::pair<std::string, std::string> table[] = {
      {SessionUserFlagsText(SESS_GUEST | SESS_NOENCRYPTION), ""},  // compared as a whole
      {FilePermissionText(8), ""},
      {MaxUsesText(0x80000000u), "2147483648"},
      {ClientTypeText(L"os/2 Lm 2.0"), "LAN Manager for MS-OS/2 2.0 clients."},
      {std::to_string(AccessKindOf(SET_ACCESS, 0x1F01FF)), "-1"},
      {std::to_string(MaxUsesFromText(" 7users")), "7"},
      {std::to_string(MaxUsesFromText("99999999999")), "2147483647"},
      {std::to_string(FileIdFromText("4294967296")), "4294967295"},
      {RequestText(Parse(R"({"list":[]})"), "list"), ""},
      {RequestText(Json::Value("text"), "list"), ""},
      {ComErrorText(0x8004FF05u), "IDispatch error #64773"},
      {ComErrorText(0x7654ABCDu), "Unknown error 0x7654ABCD"},
  };
  for (size_t i = 0; i < std::size(table); ++i) EXPECT_EQ(table[i].first, table[i].second) << "row " << i;
  const std::string system = ComErrorText(ERROR_NOT_SUPPORTED);  // the system's own, without its line break
  EXPECT_TRUE(!system.empty() && system.find_first_of("\r\n") == std::string::npos) << system;
  EXPECT_EQ(system.find("error 0x"), std::string::npos) << system;
}

}  // namespace
