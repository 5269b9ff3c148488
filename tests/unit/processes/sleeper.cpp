// "sleeper <extra threads> <ready event> <parent id> ...": signals the event,
// then sleeps until ended or its parent ends (a crashed test leaves nothing).
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
  if (!argv || argc < 4) return 1;
  for (int i = _wtoi(argv[1]); i > 0; --i)
    ::CloseHandle(::CreateThread(nullptr, 0, sleep_forever, nullptr, 0, nullptr));
  if (HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2])) ::SetEvent(ready);
  if (HANDLE parent = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(_wtoi(argv[3]))))
    ::WaitForSingleObject(parent, INFINITE);
  else
    ::Sleep(INFINITE);
  return 0;
}
