// A service that takes about 300 ms to stop (hint 100 ms), so a stop that
// does not wait shows; given a number it takes 2 s with that number as hint.
#include <windows.h>

#include <cstdlib>

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopRequested = nullptr;
int g_stopSteps = 3;
DWORD g_stopHint = 100;

void report(DWORD state, DWORD waitHint) {
  static DWORD checkPoint = 0;
  SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, state, 0, NO_ERROR, 0, 0, waitHint};
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : ++checkPoint;
  ::SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI control_handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
  if (control != SERVICE_CONTROL_STOP) return ERROR_CALL_NOT_IMPLEMENTED;
  report(SERVICE_STOP_PENDING, g_stopHint);
  ::SetEvent(g_stopRequested);
  return NO_ERROR;
}

void WINAPI service_main(DWORD argc, wchar_t** argv) {
  g_statusHandle = ::RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", control_handler, nullptr);
  if (!g_statusHandle) return;
  g_stopRequested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  report(SERVICE_RUNNING, 0);
  ::WaitForSingleObject(g_stopRequested, INFINITE);
  for (int i = 0; i < g_stopSteps; ++i) {
    ::Sleep(100);
    report(SERVICE_STOP_PENDING, g_stopHint);
  }
  report(SERVICE_STOPPED, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_stopSteps = 20, g_stopHint = std::strtoul(argv[1], nullptr, 0);
  wchar_t name[] = L"hk_test_service";  // ignored for a service in its own process
  SERVICE_TABLE_ENTRYW table[] = {{name, service_main}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
