// The part of the groups tool that turns what Windows said into JSON: the
// request's texts, group, member and user rows, and the answers of the
// member and group actions. No Windows calls here.
#pragma once
#include <windows.h>
#include <lm.h>

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hk::groups {

// The members of "requestData" the tool reads, as UTF-16. A member that is
// missing or not a string is the empty text.
struct GroupRequest {
  std::wstring group;        // "Groups"
  std::string request;       // "request", kept as UTF-8: it is only compared
  std::wstring domain;       // "domainName"
  std::wstring user;         // "userName"
  std::wstring description;  // "Description"
};
GroupRequest ReadRequest(const Json::Value* data);

// The request's keywords compare without regard to (ASCII) case.
bool IsKeyword(std::string_view text, std::string_view keyword);

// One Win32_Group row; a property that could not be read stays empty and is
// left out of the row.
struct GroupFacts {
  std::optional<std::wstring> caption, description, status, sid, domain, name;
  std::optional<uint8_t> sid_type;
};
// members: the array from MemberRow, or null for a group without members.
Json::Value GroupRow(const GroupFacts& facts, uint32_t index, Json::Value members);
// {"groups": rows}, or {"groups": "no_Groups_found"} for a null or empty list.
Json::Value GroupsAnswer(const Json::Value& rows);

// "User", "Group" or "Others".
const char* MemberTypeName(SID_NAME_USE usage);
// sid: nullopt when it could not be converted (the row has no "SID");
// comment: nullopt when the account could not be read ("--").
Json::Value MemberRow(const LOCALGROUP_MEMBERS_INFO_2& member, const std::optional<std::wstring>& sid,
                      const std::optional<std::wstring>& comment, uint32_t index);

Json::Value UserRow(const USER_INFO_2& user);
// {"users": rows, "actionName": "getUsers"}; rows is an array, maybe empty.
Json::Value UsersAnswer(Json::Value rows);

enum class Action { kAddMember, kDelMember, kAddGroup, kDelGroup };
// {"actionName", "actionResult", "remarks"} for the status the call returned.
Json::Value ActionAnswer(Action action, NET_API_STATUS status);
// The answer to a member action without a domain or user name.
Json::Value EmptyAccountAnswer(Action action);

}  // namespace hk::groups
