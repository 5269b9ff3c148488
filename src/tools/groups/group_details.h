// The Windows side of the groups tool: the local groups from WMI with their
// members, the member and group actions, and the user accounts.
#pragma once
#include <windows.h>

#include <json/value.h>

#include <string>

#include "infra/wmi.h"
#include "tools/groups/group_render.h"

class GroupDetails {
 public:
  // The whole list: a local wmi, its connection and GetGroupDetails. 1 when
  // the query ran to its end, else 0; groups() has what was gathered.
  int initializeGroupsParameters();
  // Win32_Group's local groups on the connection, each with its members.
  // 1 when the query ran to its end, else 0.
  int GetGroupDetails(hk::wbem::Connection connection);
  // Null, or the array of group rows.
  const Json::Value& groups() const { return groups_; }

 private:
  Json::Value groups_;
};

namespace hk::groups {

// The member rows of one local group, or null when it has none or they could
// not be listed.
Json::Value UpdateGroupMemberDetail(const std::wstring& groupName);

// "domain\user" added to or deleted from the group: the call's status.
NET_API_STATUS ChangeMember(bool add, const std::wstring& group, const std::wstring& account);
// The group created with its comment, or deleted: the call's status.
NET_API_STATUS ChangeGroup(bool add, const std::wstring& group, const std::wstring& comment);

// The normal user accounts as user rows, numbered across the pages; an
// empty array when none could be read.
Json::Value ListUsers();

}  // namespace hk::groups
