// Tool 6's calls to Windows: Win32_Group through WMI, the rest through the
// NetApi table of group_api.h.
#include <windows.h>
#include <lm.h>
#include <sddl.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "infra/log.h"
#include "infra/win_resource_tools.h"
#include "infra/wmi_query.h"
#include "infra/wmi_variant.h"
#include "tools/groups/group_api.h"
#include "tools/groups/group_details.h"
#include "tools/groups/net_paging.h"

namespace hk::groups {
namespace {

const wbem::QueryTexts kGroupQueryTexts{
    {L"GroupDetails::GetGroupDetails() Failed to Enumerate...!\n", 1},
    {L"getGroupMembers(): pEnumerator->Next Failed\thres:%d, LastError:%d\n", 1},
    {L"getGroupMembers(): g_objWmiHandler.pclsObj is NULL\tLastError:%d\n", 1},
    {L"GroupDetails::GetGroupDetails()...Successfully Group details are printed....!\n", 1},
};

// SIDType is a uint8 (VT_UI1); only its low byte counts, whatever type it
// comes in.
std::optional<uint8_t> ReadLowByte(IWbemClassObject& row, const wchar_t* name) {
  unique_variant value;
  if (!wbem::GetProperty(row, name, value)) return std::nullopt;
  if (const auto byte = wbem::As<uint8_t>(value.get())) return byte;
  if (const auto number = wbem::As<int32_t>(value.get())) return static_cast<uint8_t>(*number);
  if (const auto number = wbem::As<int16_t>(value.get())) return static_cast<uint8_t>(*number);
  return std::nullopt;
}

GroupFacts ReadGroup(IWbemClassObject& row) {
  GroupFacts facts;
  facts.caption = wbem::Read<std::wstring>(row, L"Caption");
  facts.description = wbem::Read<std::wstring>(row, L"Description");
  facts.status = wbem::Read<std::wstring>(row, L"Status");
  facts.sid = wbem::Read<std::wstring>(row, L"SID");
  facts.sid_type = ReadLowByte(row, L"SIDType");
  facts.domain = wbem::Read<std::wstring>(row, L"Domain");
  facts.name = wbem::Read<std::wstring>(row, L"Name");
  return facts;
}

std::optional<std::wstring> SidText(PSID sid) {
  LPWSTR raw = nullptr;
  if (!sid || !::ConvertSidToStringSidW(sid, &raw)) return std::nullopt;
  const unique_hlocal owner(raw);
  return std::wstring(raw);
}

// The account's comment, when the account can be read.
std::optional<std::wstring> AccountComment(const wchar_t* account) {
  LPBYTE raw = nullptr;
  const NET_API_STATUS status = g_groupApi.get_user(nullptr, account, 1, &raw);
  const unique_netapi_buffer buffer(raw);
  if (status != NERR_Success || !raw) return std::nullopt;
  const wchar_t* comment = reinterpret_cast<const USER_INFO_1*>(raw)->usri1_comment;
  return comment ? std::optional<std::wstring>(comment) : std::nullopt;
}

}  // namespace

Json::Value UpdateGroupMemberDetail(const std::wstring& groupName) {
  WriteLogLevel1(L"*******@@@Inside UpdateGroupMemberDetail  @@@*******\n");
  Json::Value rows;  // null until the first member
  try {
    uint32_t index = 0;
    ForEachEntry<LOCALGROUP_MEMBERS_INFO_2, DWORD_PTR>(
        [&](LPBYTE* buffer, DWORD* read, DWORD_PTR* resume) {
          DWORD total = 0;
          return g_groupApi.get_members(nullptr, groupName.c_str(), 2, buffer, MAX_PREFERRED_LENGTH, read, &total,
                                        resume);
        },
        [&](const LOCALGROUP_MEMBERS_INFO_2& member) {
          if (!member.lgrmi2_domainandname) return;
          rows.append(
              MemberRow(member, SidText(member.lgrmi2_sid), AccountComment(member.lgrmi2_domainandname), index++));
        });
  } catch (...) {
    WriteLogLevel1(L"error caught in CInvWMIClassFetch::UpdateGroupMemberDetail\n");
  }
  WriteLogLevel1(L"*******@@@End of UpdateGroupMemberDetail  @@@*******\n");
  return rows;
}

NET_API_STATUS ChangeMember(bool add, const std::wstring& group, const std::wstring& account) {
  std::wstring name = account;
  LOCALGROUP_MEMBERS_INFO_3 entry{name.data()};
  const auto call = add ? g_groupApi.add_members : g_groupApi.del_members;
  return call(nullptr, group.c_str(), 3, reinterpret_cast<LPBYTE>(&entry), 1);
}

NET_API_STATUS ChangeGroup(bool add, const std::wstring& group, const std::wstring& comment) {
  if (!add) return g_groupApi.del_group(nullptr, group.c_str());
  std::wstring name = group;
  std::wstring text = comment;
  LOCALGROUP_INFO_1 info{name.data(), text.data()};
  DWORD bad_parameter = 0;
  return g_groupApi.add_group(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &bad_parameter);
}

Json::Value ListUsers() {
  Json::Value rows(Json::arrayValue);
  const PagingResult result = ForEachEntry<USER_INFO_2, DWORD>(
      [](LPBYTE* buffer, DWORD* read, DWORD* resume) {
        DWORD total = 0;
        return g_groupApi.enum_users(nullptr, 2, FILTER_NORMAL_ACCOUNT, buffer, MAX_PREFERRED_LENGTH, read, &total,
                                     resume);
      },
      [&](const USER_INFO_2& user) { rows.append(UserRow(user)); });
  if (result.end == PagingEnd::kFailed) {
    std::fprintf(stderr, "A system error has occurred: %d\n", static_cast<int>(result.status));
  } else if (result.end == PagingEnd::kNullBuffer) {
    std::fputs("An access violation has occurred\n", stderr);
  }
  return rows;
}

}  // namespace hk::groups

int GroupDetails::initializeGroupsParameters() {
  int result = 0;
  try {
    WriteLogLevel1(L"[GroupDetails::initializeGroupsParameters()] Started!\n");
    wmi local;
    result = GetGroupDetails(hk::wbem::Open(local));
    if (result)
      WriteLogLevel1(
          L"[GroupDetails::initializeGroupsParameters] The GroupDetails details are fetched and loaded in memory "
          L"Successfully!\n");
    WriteLogLevel1(L"[GroupDetails::initializeGroupsParameters] Finished!\n");
  } catch (...) {
    WriteLogLevel1(L"[GroupDetails::initializeGroupsParameters] Exception is Occurred....!!!!");
  }
  return result;
}

int GroupDetails::GetGroupDetails(hk::wbem::Connection connection) {
  using namespace hk::groups;
  WriteLogLevel1(L"[GroupDetails::GetGroupDetails] Started....!\n");
  uint32_t index = 0;
  hk::wbem::QueryResult result;
  try {
    result = hk::wbem::RunQuery(std::move(connection), L"SELECT * FROM Win32_Group Where LocalAccount = True",
                                kGroupQueryTexts, {.pause_before_next = true}, [&](IWbemClassObject& row) {
                                  const GroupFacts facts = ReadGroup(row);
                                  Json::Value members =
                                      facts.name ? UpdateGroupMemberDetail(*facts.name) : Json::Value();
                                  groups_[index] = GroupRow(facts, index, std::move(members));
                                  ++index;
                                });
  } catch (...) {
    WriteLogLevel1(L"GroupDetails::getGroupDetails() Exception occured ...!\n");
    return 0;
  }
  if (result.status != hk::wbem::QueryStatus::kCompleted && result.status != hk::wbem::QueryStatus::kNextFailed)
    return 0;
  WriteLogLevel1(L"GroupDetails::GetGroupDetails() Finished....!\n");
  return result.status == hk::wbem::QueryStatus::kCompleted ? 1 : 0;
}
