// Tool 15's registry and file side: the Run keys, the StartupApproved values
// that record whether an item is enabled, and the removal of an item.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "infra/log.h"
#include "infra/sized_buffer.h"
#include "infra/wmi.h"
#include "tools/startup/Startup_Process.h"
#include "tools/startup/startup_rules.h"
#include "tools/startup/startup_wmi.h"

using namespace hk::startup;

namespace {

int g_bitness = 32;

// A value's data however long it is; nullopt when it cannot be read (most
// often: it does not exist).
std::optional<std::vector<uint8_t>> ReadValue(HKEY key, const std::wstring& name, DWORD* type = nullptr) {
  DWORD length = 0;
  auto data = hk::FillGrowing(1024, [&](BYTE* buffer, DWORD size, DWORD* needed) {
    length = size;
    const LSTATUS status = ::RegQueryValueExW(key, name.c_str(), nullptr, type, buffer, &length);
    if (status == ERROR_MORE_DATA) *needed = length;
    return status == ERROR_SUCCESS;
  });
  if (data) data->resize(length);
  return data;
}

// Registry text up to its first NUL; other types carry no command.
std::wstring CommandText(const std::vector<uint8_t>& data, DWORD type) {
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::wstring();
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::copy_n(data.data(), text.size() * sizeof(wchar_t), reinterpret_cast<uint8_t*>(text.data()));
  return text.substr(0, text.find(L'\0'));
}

// The state the StartupFolder approval value gives, else the Run one's.
int ApprovalOf(HKEY hive, const std::wstring& prefix, const std::wstring& name, const std::wstring* user) {
  int state = 1;
  bool found = false;
  if (auto key = Startup_Process::openKeyForView(hive, prefix + kApprovedStartupFolder, g_bitness)) {
    state = Startup_Process::readApprovedState(std::move(key), name + L".lnk", found);
    if (found) return state;
  }
  if (auto key = Startup_Process::openKeyForView(hive, prefix + kApprovedRun, g_bitness)) {
    return Startup_Process::readApprovedState(std::move(key), name, found);
  }
  if (user)
    WriteLog(L"Cannot open reg -- key of user %s !!", user->c_str());
  else
    WriteLog(L"Cannot open reg -- key inside CheckEnablePublic()...!!");
  return state;
}

bool DeleteRunValue(const std::wstring& name, int bitness) {
  const hk::unique_hkey key = Startup_Process::openKeyForView(HKEY_LOCAL_MACHINE, kRunKey, bitness);
  return key && ::RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS;
}

}  // namespace

void Startup_Process::detectBitness() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32");
  const FARPROC found = kernel ? ::GetProcAddress(kernel, "IsWow64Process") : nullptr;
  BOOL wow64 = FALSE;
  const auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)(void)>(found));
  // The system's width: a 64-bit build of the library runs only on a 64-bit
  // system, a 32-bit one learns it from WOW64.
  const bool wideBuild = sizeof(void*) == 8;
  g_bitness = wideBuild || (isWow64 && isWow64(::GetCurrentProcess(), &wow64) && wow64) ? 64 : 32;
}

int Startup_Process::systemBitness() { return g_bitness; }

hk::unique_hkey Startup_Process::openKeyForView(HKEY hive, const std::wstring& subkey, int bitness) {
  const REGSAM view = bitness == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  hk::unique_hkey key;
  if (::RegOpenKeyExW(hive, subkey.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS) {
    key.reset();
    WriteLog(bitness == 32 ? L"Couldn't open 32-bit registry key" : L"Couldn't open 64-bit registry key");
  }
  return key;
}

int Startup_Process::readApprovedState(hk::unique_hkey key, const std::wstring& valueName, bool& found) {
  const auto data = ReadValue(key.get(), valueName);
  found = data.has_value();
  return data ? ApprovedState(*data) : 1;
}

int Startup_Process::writeApprovedState(HKEY key, const std::wstring& valueName, const uint8_t (&bytes)[5]) {
  if (!ReadValue(key, valueName)) return 0;
  return ::RegSetValueExW(key, valueName.c_str(), 0, REG_BINARY, bytes, sizeof bytes) == ERROR_SUCCESS ? 1 : 0;
}

int Startup_Process::CheckEnablePublic(HKEY hive, const std::wstring& name) {
  return ApprovalOf(hive, std::wstring(), name, nullptr);
}

int Startup_Process::CheckEnableUser(HKEY hive, const std::wstring& name, const std::wstring& user) {
  return ApprovalOf(hive, getUserProfileSid(user) + L"\\", name, &user);
}

int Startup_Process::get32bitStartup(HKEY hive, Json::Value& rows, Json::ArrayIndex& counter) {
  WriteLog(L"Inside get32bitStartup() method..@!!@");
  // On 32-bit Windows there is one view, and WMI has reported it.
  if (g_bitness == 32) return 1;
  const hk::unique_hkey key = openKeyForView(hive, kRunKey, 32);
  if (!key) {
    WriteLog(L"Failed opening 32 bit registry key...!");
    return 0;
  }
  WriteLog(L"Successfully opened 32 bit registry key..!");
  enumRunValues(key.get(), rows, counter);
  return 1;
}

void Startup_Process::enumRunValues(HKEY key, Json::Value& rows, Json::ArrayIndex& counter) {
  DWORD values = 0;
  DWORD longestName = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
    return;
  }
  std::vector<wchar_t> nameBuffer(std::max<DWORD>(longestName + 1, 256));
  for (DWORD index = 0; index < values; ++index) {
    DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
    if (::RegEnumValueW(key, index, nameBuffer.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      continue;
    }
    const std::wstring name(nameBuffer.data(), nameLength);
    DWORD type = REG_NONE;
    const auto data = ReadValue(key, name, &type);
    if (!data) continue;
    const std::wstring command = CommandText(*data, type);

    bool found = false;
    int status = 1;
    if (auto approved = openKeyForView(HKEY_LOCAL_MACHINE, kApprovedRun32, g_bitness)) {
      status = readApprovedState(std::move(approved), name, found);
    }
    if (!found) {
      if (auto approved = openKeyForView(HKEY_CURRENT_USER, kApprovedRun32, g_bitness)) {
        status = readApprovedState(std::move(approved), name, found);
      }
    }

    const std::wstring location = cleanCommandPath(command);
    const bool programFiles = command.find(L"%ProgramFiles") != std::wstring::npos;
    const auto description =
        RunValueDescription(getFileDescription(programFiles ? expandProgramFiles(command) : command), name);
    if (!description) continue;
    addStartupRow(name, *description, location, L"Public", status, L"Registry", counter++, rows);
  }
}

int Startup_Process::setStartupState(const std::wstring& name, int mode, const std::wstring& user) {
  detectBitness();
  // The profile lookup of a user's hive goes through this connection.
  wmi local;
  const hk::wbem::Connection connection = hk::wbem::Open(local);
  const ServicesInUse inUse(connection.services());

  HKEY hive = HKEY_LOCAL_MACHINE;
  std::wstring prefix;
  if (!EqualsNoCase(user, L"Public")) {
    hive = HKEY_USERS;
    prefix = getUserProfileSid(user) + L"\\";
  }
  const auto& bytes = mode == 1 ? kEnableBytes : kDisableBytes;
  if (const auto key = openKeyForView(hive, prefix + kApprovedRun, g_bitness))
    writeApprovedState(key.get(), name, bytes);
  if (const auto key = openKeyForView(hive, prefix + kApprovedRun32, g_bitness)) {
    writeApprovedState(key.get(), name, bytes);
  }
  const auto folder = openKeyForView(hive, prefix + kApprovedStartupFolder, g_bitness);
  if (!folder) return 0;
  writeApprovedState(folder.get(), name + L".lnk", bytes);
  return 1;
}

int Startup_Process::deleteStartupEntry(const std::wstring& name) {
  WriteLog(L"inside delete startup Process");
  // The name is a shortcut's file name inside the folder: one that would
  // reach out of it ("..\\x", "C:\\x") deletes no file.
  const bool fileName = name.find_first_of(L"\\/:") == std::wstring::npos && name != L"." && name != L"..";
  const std::wstring shortcut = std::wstring(kCommonStartupFolder) + name + L".lnk";
  if (fileName && ::DeleteFileW(shortcut.c_str())) return 1;
  if (DeleteRunValue(name, g_bitness)) return 1;
  return g_bitness == 64 && DeleteRunValue(name, 32) ? 1 : 0;
}
