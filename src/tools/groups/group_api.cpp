#include "tools/groups/group_api.h"

namespace hk::groups {

const GroupApi kSystemGroupApi = {
    &::NetLocalGroupGetMembers,
    &::NetUserGetInfo,
    &::NetLocalGroupAddMembers,
    &::NetLocalGroupDelMembers,
    &::NetLocalGroupAdd,
    &::NetLocalGroupDel,
    &::NetUserEnum,
};

GroupApi g_groupApi = kSystemGroupApi;

}  // namespace hk::groups
