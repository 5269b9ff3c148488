// Tool 15's inventory: WMI's startup commands with their users' enabled
// state, then (on 64-bit Windows) the Run values of the 32-bit view, which
// WMI does not report to a 32-bit caller.
#include <windows.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "infra/log.h"
#include "infra/sized_buffer.h"
#include "infra/wmi.h"
#include "infra/wmi_query.h"
#include "infra/wmi_variant.h"
#include "tools/startup/Startup_Process.h"
#include "tools/startup/startup_rules.h"
#include "tools/startup/startup_wmi.h"

namespace hk::startup {

namespace {

IWbemServices* g_services = nullptr;

// The inventory logs its own lines around the walk; a row without an object
// is skipped quietly.
const wbem::QueryTexts kSilent{};
const wbem::QueryOptions kWalk{.pause_before_next = false, .stop_on_failed_next = false};

std::wstring TextOf(IWbemClassObject& object, const wchar_t* name) {
  return wbem::Read<std::wstring>(object, name).value_or(std::wstring());
}

wchar_t SystemDrive() {
  wchar_t folder[MAX_PATH] = {};
  return ::GetWindowsDirectoryW(folder, MAX_PATH) != 0 && folder[0] ? folder[0] : L'C';
}

}  // namespace

IWbemServices* CurrentServices() { return g_services; }

ServicesInUse::ServicesInUse(IWbemServices* services) : previous_(std::exchange(g_services, services)) {}
ServicesInUse::~ServicesInUse() { g_services = previous_; }

}  // namespace hk::startup

using namespace hk::startup;

int Startup_Process::getStartup_Processes(Json::Value& responseData) {
  WriteLog(L"inside getStartup_Processes()...!!");
  detectBitness();
  wmi local;
  hk::wbem::Connection connection = hk::wbem::Open(local);
  hk::com_ptr<IEnumWbemClassObject> enumerator;
  int listed = 0;
  {
    const ServicesInUse inUse(connection.services());
    enumerator = getObjectsPointer(L"SELECT * FROM Win32_StartupCommand", connection.services());
    if (!enumerator) {
      WriteLog(L"getObjectsPointer() failed..!");
      return 0;
    }
    WriteLog(L"getObjectsPointer() method success..!");
    listed = getObject(*enumerator.Get(), L"Name", responseData);
  }
  connection.Close(std::move(enumerator));
  WriteLog(listed == 1 ? L"Startup programs Listed successfully..!!" : L"Failed to list StartupPrograms..!!!");
  return listed;
}

hk::com_ptr<IEnumWbemClassObject> Startup_Process::getObjectsPointer(const wchar_t* query, IWbemServices* services) {
  hk::com_ptr<IEnumWbemClassObject> enumerator;
  // COM is left by the connection that owns the services, not here: the
  // profile lookup runs this inside the listing's own query.
  if (!services || FAILED(hk::wbem::ExecQuery(*services, query, enumerator))) return {};
  return enumerator;
}

int Startup_Process::getObject(IEnumWbemClassObject& enumerator, const wchar_t* nameProperty,
                               Json::Value& responseData) {
  WriteLog(L"inside getObject()..method..!!");
  try {
    Json::Value rows;  // null until the first row
    Json::ArrayIndex counter = 0;
    hk::wbem::WalkRows(enumerator, kSilent, kWalk, [&](IWbemClassObject& object) {
      const std::wstring name = TextOf(object, nameProperty);
      const std::wstring user = TextOf(object, L"User");
      if (IsServiceAccountSid(getUserProfileSid(user))) return;
      const int status =
          user == L"Public" ? CheckEnablePublic(HKEY_LOCAL_MACHINE, name) : CheckEnableUser(HKEY_USERS, name, user);
      const std::wstring type = StartupType(TextOf(object, L"Location"));
      const std::wstring command = TextOf(object, L"Command");

      std::wstring description = name;
      switch (ChoosePathRule(type, command)) {
        case PathRule::kLookUp: {
          const auto found = WmiDescription(getFileDescription(command), name);
          if (!found) return;
          description = *found;
          break;
        }
        case PathRule::kLookUpProgramFiles: {
          const std::wstring expanded = expandProgramFiles(command);
          const auto found = WmiDescription(getFileDescription(expanded), name);
          if (!found) {
            WriteLog(L"Path not found...!@ %s", expanded.c_str());
            return;
          }
          description = *found;
          break;
        }
        case PathRule::kName:
          break;
      }
      addStartupRow(name, description, cleanCommandPath(command), user, status, type, counter++, rows);
    });
    WriteLog(L"Enumerating WMI objects successfully finished..!!");
    get32bitStartup(HKEY_LOCAL_MACHINE, rows, counter);
    get32bitStartup(HKEY_CURRENT_USER, rows, counter);
    responseData["APPS_LIST"] = rows;
    return 1;
  } catch (...) {
    WriteLog(L"Exception occured while Enumerating objects inside getObject() method..!!!");
    return 0;
  }
}

std::wstring Startup_Process::getUserProfileSid(const std::wstring& user) {
  const std::wstring folder = ProfileFolderName(user);
  // Every path holds the empty text; no user is no profile.
  if (folder.empty()) return std::wstring();
  const auto enumerator = getObjectsPointer(L"SELECT * FROM Win32_UserProfile Where Loaded = TRUE", CurrentServices());
  if (!enumerator) return std::wstring();
  std::wstring sid;
  bool found = false;
  hk::wbem::WalkRows(*enumerator.Get(), kSilent, kWalk, [&](IWbemClassObject& profile) {
    if (found || TextOf(profile, L"LocalPath").find(folder) == std::wstring::npos) return;
    sid = TextOf(profile, L"SID");
    found = true;
  });
  return sid;
}

std::wstring Startup_Process::getFileDescription(const std::wstring& path) {
  try {
    const std::wstring file = ExecutablePart(path);
    bool sized = false;
    const auto data = hk::FillGrowing(0, [&](BYTE* buffer, DWORD size, DWORD* needed) {
      if (size == 0) {
        DWORD ignored = 0;
        *needed = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
        sized = *needed != 0;
        return false;
      }
      return ::GetFileVersionInfoW(file.c_str(), 0, size, buffer) != FALSE;
    });
    if (!sized) return kPathNotFound;
    if (!data) return kNoVersionInfo;

    void* table = nullptr;
    UINT bytes = 0;
    std::vector<Translation> translations;
    if (::VerQueryValueW(data->data(), L"\\VarFileInfo\\Translation", &table, &bytes) && table) {
      const auto* first = static_cast<const Translation*>(table);
      translations.assign(first, first + bytes / sizeof(Translation));
    }
    // Without a translation there is no string table to name.
    if (translations.empty()) return std::wstring();
    const Translation chosen = translations[ChooseTranslation(translations, ::GetUserDefaultLangID())];

    wchar_t key[64];
    std::swprintf(key, 64, L"\\StringFileInfo\\%04X%04X\\FileDescription", chosen.language, chosen.codePage);
    void* text = nullptr;
    UINT chars = 0;
    if (!::VerQueryValueW(data->data(), key, &text, &chars) || !text) return std::wstring();
    return std::wstring(static_cast<const wchar_t*>(text), ::wcsnlen(static_cast<const wchar_t*>(text), chars));
  } catch (...) {
    WriteLog(L"Exception occured inside getFileDescription().....");
    return kNoVersionInfo;
  }
}

std::wstring Startup_Process::cleanCommandPath(const std::wstring& command) {
  return CleanCommandPath(command, SystemDrive());
}

std::wstring Startup_Process::expandProgramFiles(const std::wstring& text) {
  return ExpandProgramFiles(text, SystemDrive());
}

void Startup_Process::addStartupRow(const std::wstring& name, const std::wstring& description,
                                    const std::wstring& location, const std::wstring& user, int status,
                                    const std::wstring& startupType, Json::ArrayIndex position, Json::Value& rows) {
  rows[position] = StartupRowJson({name, description, location, user, status == 1, startupType});
}
