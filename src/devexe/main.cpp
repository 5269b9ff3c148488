// The device action program: enables, disables, uninstalls or updates one
// device. Exit code 0 on success, else the Windows error; a line on stderr
// says what happened. Bad arguments: the usage text and 87.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device_actions.h"
#include "devexe_args.h"

namespace {

// Through the console's code page, as a human will read it.
void Say(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  std::string narrow(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), size, nullptr, nullptr);
  std::fputs(narrow.c_str(), stderr);
}

std::wstring SystemMessage(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer ? buffer : L"", buffer ? length : 0);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return text;
}

std::vector<std::wstring> Arguments() {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  for (int i = 1; argv && i < count; ++i) arguments.emplace_back(argv[i]);
  if (argv) ::LocalFree(argv);
  return arguments;
}

}  // namespace

int main() {
  const auto request = devexe::ParseArguments(Arguments());
  if (!request) {
    std::fputs(devexe::kUsage, stderr);
    return ERROR_INVALID_PARAMETER;
  }
  const devexe::Outcome outcome = devexe::Run(*request);
  const std::wstring what = std::wstring(devexe::ActionName(request->action)) + L" " + request->deviceId;
  if (outcome.error != ERROR_SUCCESS) {
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(outcome.error));
    Say(L"DevExe: " + what + L" failed while " + outcome.step + L": error " + code + L" " +
        SystemMessage(outcome.error) + L"\n");
    return static_cast<int>(outcome.error);
  }
  Say(L"DevExe: " + what + L" done" + (outcome.restartNeeded ? L"; Windows needs a restart to finish" : L"") + L"\n");
  return 0;
}
