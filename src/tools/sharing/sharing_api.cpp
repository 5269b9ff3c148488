#include "tools/sharing/sharing_api.h"

namespace hk::sharing {

SharingApi RealSharingApi() {
  return SharingApi{&::NetShareEnum,          &::NetShareSetInfo,
                    &::NetShareDel,           &::NetSessionEnum,
                    &::NetSessionDel,         &::NetFileEnum,
                    &::NetFileClose,          &::NetApiBufferFree,
                    &::GetNamedSecurityInfoW, &::GetExplicitEntriesFromAclW};
}

SharingApi g_sharingApi = RealSharingApi();

}  // namespace hk::sharing
