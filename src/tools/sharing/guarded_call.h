// Wine's netapi32 leaves some of this tool's functions unimplemented
// (NetShareSetInfo, NetSessionDel and NetFileClose in Wine 8): calling one
// raises Wine's "unimplemented function" exception instead of returning, and
// nothing in the call handles it, so the process would end. The tool's NetApi
// calls run through NetCall, which answers such a call as "not implemented".
#pragma once
#include <windows.h>
#include <lm.h>

#include <type_traits>
#include <utility>

namespace hk::sharing {

// The code Wine raises for a call into a function its DLL does not implement.
constexpr DWORD kUnimplementedFunction = 0x80000100;

// Runs call(context) and returns its result. When the call raises
// kUnimplementedFunction, it is abandoned there (nothing of it runs on) and
// *raised is set; the result is then 0. Every other exception goes its usual
// way, so the handlers inside the call still see theirs.
DWORD CallGuarded(DWORD (*call)(void* context), void* context, bool* raised);

// Writes "%s is not implemented on this system\n" with the call's name.
void LogUnimplemented(const wchar_t* name);

// One NetApi call: call() unless it is not implemented, which reads as
// ERROR_CALL_NOT_IMPLEMENTED (also as the thread's last error) and is logged.
// The frames abandoned on the way are the call's own, so call must hold no
// object that needs a destructor.
template <typename Call>
NET_API_STATUS NetCall(const wchar_t* name, Call&& call) {
  using Plain = std::remove_reference_t<Call>;
  bool raised = false;
  const DWORD status = CallGuarded([](void* context) -> DWORD { return (*static_cast<Plain*>(context))(); },
                                   const_cast<void*>(static_cast<const void*>(&call)), &raised);
  if (!raised) return status;
  LogUnimplemented(name);
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return ERROR_CALL_NOT_IMPLEMENTED;
}

}  // namespace hk::sharing
