// Stands in for the device action program (and any child of the runner
// tests). When HK_STANDIN_RECORD names a file, appends a line to it:
// "<pid>\t<working directory>\t<whole command line>" in UTF-8. Then:
//   --exit N       exits with N
//   --wait EVENT   waits (at most 60 s) for the named event, appends "done"
// and otherwise exits with 0.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void Append(const std::wstring& line) {
  wchar_t path[MAX_PATH] = {};
  if (!::GetEnvironmentVariableW(L"HK_STANDIN_RECORD", path, MAX_PATH)) return;
  const std::wstring text = line + L"\n";
  char bytes[8192] = {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes, sizeof bytes,
                                         nullptr, nullptr);
  const HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
  ::CloseHandle(file);
}

}  // namespace

int main() {
  wchar_t directory[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, directory);
  Append(std::to_wstring(::GetCurrentProcessId()) + L"\t" + directory + L"\t" + ::GetCommandLineW());
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  for (int i = 1; argv && i + 1 < argc; ++i) {
    if (std::wcscmp(argv[i], L"--exit") == 0) return _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--wait") == 0) {
      const HANDLE event = ::OpenEventW(SYNCHRONIZE, FALSE, argv[i + 1]);
      if (event && ::WaitForSingleObject(event, 60000) == WAIT_OBJECT_0) Append(L"done");
      return 99;
    }
  }
  return 0;
}
