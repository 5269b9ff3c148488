#include "tools/groups/group_render.h"

#include <string>
#include <utility>

#include "core/text.h"

namespace hk::groups {
namespace {

std::wstring TextMember(const Json::Value& data, const char* key) {
  const Json::Value* value = data.find(key, key + std::char_traits<char>::length(key));
  return value && value->isString() ? FromUtf8(value->asString()) : std::wstring();
}

std::string Utf8(const wchar_t* text) { return text ? ToUtf8(text) : std::string(); }

void SetText(Json::Value& row, const char* key, const std::optional<std::wstring>& text) {
  if (text) row[key] = ToUtf8(*text);
}

// Remarks per status, for the add and the delete form of one action. An
// empty text is what the system's table leaves blank.
// https://learn.microsoft.com/windows/win32/api/lmaccess/nf-lmaccess-netlocalgroupaddmembers
struct Remark {
  NET_API_STATUS status;
  const char* add;
  const char* del;
};

constexpr Remark kMemberRemarks[] = {
    {5, "The user does not have access to the requested information.",
     "The user does not have access to the requested information."},
    {1378, "One or more of the members specified were already members of the local group. No new members were added.",
     "One or more of the members specified were already members of the local group. No new members were deleted."},
    {1387, "One or more of the members specified do not exist. Therefore, no new members were added.",
     "One or more of the members specified do not exist. Therefore, no new members were deleted."},
    {1388,
     "One or more of the members cannot be added because their account type is invalid. No new members were added.",
     ""},
    {2220, "The local group specified by the groupname parameter does not exist.",
     "The local group specified by the groupname parameter does not exist."},
};

constexpr Remark kGroupRemarks[] = {
    {5, "The caller does not have the appropriate access to complete the operation.",
     "The user does not have access to the requested information."},
    {87, "A parameter is incorrect.", ""},
    {124, "A level parameter is invalid.", ""},
    {1376, "", "The specified local group does not exist."},
    {1379, "The specified local group already exists.", ""},
    {2220, "", "The local group specified by the groupname parameter does not exist."},
    {2223, "The group name exists.", "The group name exists."},
    {2224, "The user name exists.", ""},
    {2226, "The operation is allowed only on the primary domain controller of the domain.",
     "The operation is allowed only on the primary domain controller of the domain."},
    {2351, "The computer name is invalid.", "The computer name is invalid."},
};

struct ActionTexts {
  const char* name;
  const char* success;
  bool adds;
  bool member;
};

ActionTexts TextsOf(Action action) {
  switch (action) {
    case Action::kAddMember:
      return {"AddMember", "Success fully added this group Member", true, true};
    case Action::kDelMember:
      return {"DelMember", "Success fully deleted this group Member", false, true};
    case Action::kAddGroup:
      return {"AddGroup", "Success fully added this group", true, false};
    case Action::kDelGroup:
    default:
      return {"DelGroup", "Success fully deleted this group", false, false};
  }
}

template <size_t N>
const char* FindRemark(const Remark (&table)[N], NET_API_STATUS status, bool adds) {
  for (const Remark& remark : table) {
    if (remark.status == status) return adds ? remark.add : remark.del;
  }
  return "";
}

Json::Value Answer(const char* name, const char* result, const char* remarks) {
  Json::Value answer(Json::objectValue);
  answer["actionName"] = name;
  answer["actionResult"] = result;
  answer["remarks"] = remarks;
  return answer;
}

}  // namespace

GroupRequest ReadRequest(const Json::Value* data) {
  GroupRequest request;
  if (!data || !data->isObject()) return request;
  request.group = TextMember(*data, "Groups");
  request.request = ToUtf8(TextMember(*data, "request"));
  request.domain = TextMember(*data, "domainName");
  request.user = TextMember(*data, "userName");
  request.description = TextMember(*data, "Description");
  return request;
}

bool IsKeyword(std::string_view text, std::string_view keyword) {
  if (text.size() != keyword.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(text[i]) != lower(keyword[i])) return false;
  }
  return true;
}

Json::Value GroupRow(const GroupFacts& facts, uint32_t index, Json::Value members) {
  Json::Value row(Json::objectValue);
  row["MEMBERS"] = std::move(members);
  SetText(row, "CAPTION", facts.caption);
  SetText(row, "DESCRIPTION", facts.description);
  SetText(row, "STATUS", facts.status);
  SetText(row, "SID", facts.sid);
  if (facts.sid_type) row["SIDType"] = std::to_string(*facts.sid_type);
  SetText(row, "DOMAIN", facts.domain);
  SetText(row, "NAME", facts.name);
  row["GROUP_ID"] = std::to_string(index);
  return row;
}

Json::Value GroupsAnswer(const Json::Value& rows) {
  Json::Value answer(Json::objectValue);
  if (rows.isArray() && !rows.empty()) {
    Json::Value& copy = answer["groups"] = Json::Value(Json::arrayValue);
    for (const Json::Value& row : rows) copy.append(row);
  } else {
    answer["groups"] = "no_Groups_found";
  }
  return answer;
}

const char* MemberTypeName(SID_NAME_USE usage) {
  switch (usage) {
    case SidTypeUser:
      return "User";
    case SidTypeGroup:
    case SidTypeWellKnownGroup:
      return "Group";
    default:
      return "Others";
  }
}

Json::Value MemberRow(const LOCALGROUP_MEMBERS_INFO_2& member, const std::optional<std::wstring>& sid,
                      const std::optional<std::wstring>& comment, uint32_t index) {
  Json::Value row(Json::objectValue);
  row["MEMBER_ID"] = std::to_string(index);
  SetText(row, "SID", sid);
  row["NAME"] = Utf8(member.lgrmi2_domainandname);
  row["DESCRIPTION"] = comment ? ToUtf8(*comment) : std::string("--");
  row["MEMBER_TYPE"] = MemberTypeName(member.lgrmi2_sidusage);
  return row;
}

Json::Value UserRow(const USER_INFO_2& user) {
  Json::Value row(Json::objectValue);
  row["USER_NAME"] = Utf8(user.usri2_name);
  row["HOME_DIRECTORY"] = Utf8(user.usri2_home_dir);
  row["DESCRIPTION"] = Utf8(user.usri2_comment);
  // Seconds since 1970 in a DWORD, shown signed: TIMEQ_FOREVER reads "-1".
  row["LAST_LOGON"] = std::to_string(static_cast<int32_t>(user.usri2_last_logon));
  row["ACCT_EXPIRES"] = std::to_string(static_cast<int32_t>(user.usri2_acct_expires));
  return row;
}

Json::Value UsersAnswer(Json::Value rows) {
  Json::Value answer(Json::objectValue);
  answer["users"] = rows.isArray() ? std::move(rows) : Json::Value(Json::arrayValue);
  answer["actionName"] = "getUsers";
  return answer;
}

Json::Value ActionAnswer(Action action, NET_API_STATUS status) {
  const ActionTexts texts = TextsOf(action);
  if (status == NERR_Success) return Answer(texts.name, "Success", texts.success);
  const char* remarks =
      texts.member ? FindRemark(kMemberRemarks, status, texts.adds) : FindRemark(kGroupRemarks, status, texts.adds);
  return Answer(texts.name, "Failed", remarks);
}

Json::Value EmptyAccountAnswer(Action action) {
  return Answer(TextsOf(action).name, "Failed", "AccountName Empty or Null");
}

}  // namespace hk::groups
