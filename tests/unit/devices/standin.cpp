// The device action program and runner child: appends "<pid>\t<command line>"
// to the file HK_STANDIN_RECORD names; "--exit N" exits with N, "--wait EVENT"
// waits (60 s at most) for the event, appends "done" and exits with 99; else 0.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

void Append(const wchar_t* line) {
  const wchar_t* path = _wgetenv(L"HK_STANDIN_RECORD");
  if (FILE* file = path ? _wfopen(path, L"ab") : nullptr) {
    std::fprintf(file, "%ls", line);
    std::fclose(file);
  }
}

}  // namespace

int main() {
  wchar_t line[4096];
  std::swprintf(line, 4096, L"%lu\t%ls\n", ::GetCurrentProcessId(), ::GetCommandLineW());
  Append(line);
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  for (int i = 1; argv && i + 1 < argc; ++i) {
    if (std::wcscmp(argv[i], L"--exit") == 0) return _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--wait") == 0) {
      const HANDLE event = ::OpenEventW(SYNCHRONIZE, FALSE, argv[i + 1]);
      if (event && ::WaitForSingleObject(event, 60000) == WAIT_OBJECT_0) Append(L"done\n");
      return 99;
    }
  }
  return 0;
}
