// Tool 2: the Win32 services of the machine, and starting, stopping and
// reconfiguring one of them through the Service Control Manager.
#pragma once
#include <windows.h>

#include <string>

#include "core/outcome.h"
#include "infra/win_resource.h"

// <winsvc.h> maps OpenService to OpenServiceW; the member below keeps its own
// name, and the API is always called by its wide name.
#ifdef OpenService
#undef OpenService
#endif

namespace hk::services {
// The listing: the finished "2301" success envelope, or nothing ("false")
// with the error of the call that kept the list empty.
Outcome ListServices(const std::string& webClientId);
}  // namespace hk::services

class Service {
 public:
  // The listing. *outcome is left as the caller set it ("false") unless at
  // least one service was described; then it receives the finished response
  // text (heap, the caller frees it with hk::FreeText).
  static void get_details(char** outcome, const std::string& webClientId);

  // Each opener keeps GetLastError() of the failed call for the caller.
  static hk::unique_schandle OpenManager();
  static hk::unique_schandle OpenService(SC_HANDLE manager, const std::wstring& name, DWORD access);
  // The same with SERVICE_ALL_ACCESS.
  static hk::unique_schandle OpenService(SC_HANDLE manager, const std::wstring& name);

  // 1 started (no waiting), 0 failed, 2 an error was caught.
  static int Start(SC_HANDLE service);
  // Asks the service to stop and polls until it has: 1 stopped, 0 failed or
  // not stopped within timeoutMs, 2 an error was caught. The handle needs
  // SERVICE_STOP and SERVICE_QUERY_STATUS.
  static int Stop(SC_HANDLE service, DWORD timeoutMs);
  // 1 when the start type was changed, else 0.
  static int change_service_type(const std::wstring& name, int startType);

  // "Stopped" ... "Paused"; "" and a log line for any other value.
  static std::string service_status(DWORD state);
  // "Boot Start" ... "Disabled"; "" and a log line for any other value.
  static std::string service_start_type(DWORD type);
};
