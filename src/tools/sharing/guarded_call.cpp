#include "tools/sharing/guarded_call.h"

#include "infra/log.h"
#include "infra/win_resource.h"

namespace hk::sharing {

namespace {

struct Guard {
  void* resume[5];  // __builtin_setjmp's buffer
#if defined(__i386__)
  // The frame-based handler chain as it was before the call; the frames the
  // call registered after it are abandoned with the call.
  EXCEPTION_REGISTRATION_RECORD* chain;
#endif
};

thread_local Guard* t_guard = nullptr;

#if defined(__i386__)
// The head of the thread's handler chain, fs:0 on x86.
EXCEPTION_REGISTRATION_RECORD* ChainHead() {
  EXCEPTION_REGISTRATION_RECORD* head;
  __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
  return head;
}
void SetChainHead(EXCEPTION_REGISTRATION_RECORD* head) {
  __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}
#endif

// First in line, so it sees the exception before the process-ending default
// does; it takes only the unimplemented-function code, and only inside a
// guarded call on its own thread.
LONG CALLBACK CatchUnimplemented(EXCEPTION_POINTERS* info) {
  Guard* const guard = t_guard;
  if (!guard || !info || !info->ExceptionRecord || info->ExceptionRecord->ExceptionCode != kUnimplementedFunction) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  __builtin_longjmp(guard->resume, 1);
}

void InstallHandler() {
  static const PVOID handler = ::AddVectoredExceptionHandler(1, CatchUnimplemented);
  static_cast<void>(handler);
}

}  // namespace

void LogUnimplemented(const wchar_t* name) { WriteLog(L"%s is not implemented on this system\n", name); }

DWORD CallGuarded(DWORD (*call)(void* context), void* context, bool* raised) {
  InstallHandler();
  *raised = false;
  Guard guard;
  Guard* volatile const outer = t_guard;
#if defined(__i386__)
  guard.chain = ChainHead();
#endif
  if (__builtin_setjmp(guard.resume) == 0) {
    t_guard = &guard;
    const DWORD result = call(context);
    // Thread-local storage may go through TlsGetValue, which clears the
    // last error the call left.
    const last_error_keeper keep;
    t_guard = outer;
    return result;
  }
#if defined(__i386__)
  SetChainHead(static_cast<Guard volatile&>(guard).chain);
#endif
  t_guard = outer;
  *raised = true;
  return 0;
}

}  // namespace hk::sharing
