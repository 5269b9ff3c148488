// Owners for the handles and buffers of the NetApi, SetupAPI and the spooler,
// of the same family as infra/win_resource.h. Apart from it so that what
// does not need these headers (the socket component) does not pull them in.
#pragma once
#include <windows.h>
#include <lm.h>
#include <setupapi.h>
#include <winspool.h>

#include "infra/win_resource.h"

namespace hk {

namespace detail {
inline void free_netapi(void* p) { ::NetApiBufferFree(p); }
inline void close_devinfo(HDEVINFO h) { ::SetupDiDestroyDeviceInfoList(h); }
inline void close_printer(HANDLE h) { ::ClosePrinter(h); }
}  // namespace detail

using unique_netapi_buffer = unique_any<void*, detail::free_netapi>;
using unique_hdevinfo = unique_any<HDEVINFO, detail::close_devinfo, -1>;
using unique_printer = unique_any<HANDLE, detail::close_printer>;

}  // namespace hk
