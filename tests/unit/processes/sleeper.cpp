// An idle child for the process tool tests: starts the number of extra
// threads given after --threads, signals the event named after --ready, and
// sleeps until it is ended or the process whose id follows --parent ends (so
// a crashed test leaves nothing behind). Every other argument is ignored.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

namespace {

DWORD WINAPI sleep_forever(LPVOID) {
  ::Sleep(INFINITE);
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  int threads = 0;
  const wchar_t* ready = nullptr;
  DWORD parent = 0;
  for (int i = 1; argv && i + 1 < argc; ++i) {
    if (std::wcscmp(argv[i], L"--threads") == 0) {
      threads = _wtoi(argv[++i]);
    } else if (std::wcscmp(argv[i], L"--ready") == 0) {
      ready = argv[++i];
    } else if (std::wcscmp(argv[i], L"--parent") == 0) {
      parent = static_cast<DWORD>(_wtoi(argv[++i]));
    }
  }
  for (int i = 0; i < threads; ++i) {
    if (HANDLE thread = ::CreateThread(nullptr, 0, sleep_forever, nullptr, 0, nullptr)) ::CloseHandle(thread);
  }
  if (ready) {
    if (HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, ready)) {
      ::SetEvent(event);
      ::CloseHandle(event);
    }
  }
  if (HANDLE parentProcess = parent ? ::OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr) {
    ::WaitForSingleObject(parentProcess, INFINITE);
  } else {
    ::Sleep(INFINITE);
  }
  return 0;
}
