// The Windows calls of the sharing tool that Wine cannot stand in for (it has
// no shares, open files, sessions or share ACLs), reached through one table so
// a test can put fakes in their place. Production never changes it.
#pragma once
#include <windows.h>
#include <aclapi.h>
#include <lm.h>

#include <utility>

#include "infra/win_resource_tools.h"

namespace hk::sharing {

struct SharingApi {
  decltype(&::NetShareEnum) NetShareEnum;
  decltype(&::NetShareSetInfo) NetShareSetInfo;
  decltype(&::NetShareDel) NetShareDel;
  decltype(&::NetSessionEnum) NetSessionEnum;
  decltype(&::NetSessionDel) NetSessionDel;
  decltype(&::NetFileEnum) NetFileEnum;
  decltype(&::NetFileClose) NetFileClose;
  decltype(&::NetApiBufferFree) NetApiBufferFree;
  decltype(&::GetNamedSecurityInfoW) GetNamedSecurityInfoW;
  decltype(&::GetExplicitEntriesFromAclW) GetExplicitEntriesFromAclW;
};

SharingApi RealSharingApi();
extern SharingApi g_sharingApi;

namespace detail {
inline void free_sharing_buffer(void* buffer) { g_sharingApi.NetApiBufferFree(buffer); }
}  // namespace detail

// A buffer from one of the table's NetApi calls, freed through the table.
using unique_share_buffer = unique_any<void*, detail::free_sharing_buffer>;

}  // namespace hk::sharing
