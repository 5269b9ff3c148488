// The network management calls of the groups tool, reached through one table
// so tests can serve groups, members and users that Wine does not keep.
// Production never changes it.
#pragma once
#include <windows.h>
#include <lm.h>

namespace hk::groups {

struct GroupApi {
  decltype(&::NetLocalGroupGetMembers) get_members;
  decltype(&::NetUserGetInfo) get_user;
  decltype(&::NetLocalGroupAddMembers) add_members;
  decltype(&::NetLocalGroupDelMembers) del_members;
  decltype(&::NetLocalGroupAdd) add_group;
  decltype(&::NetLocalGroupDel) del_group;
  decltype(&::NetUserEnum) enum_users;
};

// The system's functions.
extern const GroupApi kSystemGroupApi;
// What the tool calls; kSystemGroupApi unless a test swapped it.
extern GroupApi g_groupApi;

}  // namespace hk::groups
