// The device action program's command line:
//   DevExe <class GUID> <device instance id> Change 1|2 | Uninstall | Update
// Change 1 enables the device, Change 2 disables it.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devexe {

enum class Action { kEnable, kDisable, kUninstall, kUpdate };

struct Request {
  GUID classGuid{};
  std::wstring deviceId;
  Action action = Action::kEnable;
};

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", braces optional, any case.
std::optional<GUID> ParseGuid(std::wstring_view text);

// The arguments after the program name; nothing when they do not fit.
std::optional<Request> ParseArguments(const std::vector<std::wstring>& arguments);

const wchar_t* ActionName(Action action);
extern const char* const kUsage;

}  // namespace devexe
