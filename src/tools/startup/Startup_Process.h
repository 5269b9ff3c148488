// Tool 15: what starts with Windows (WMI's Win32_StartupCommand, and on
// 64-bit Windows the Run keys of the 32-bit registry view), whether each item
// is enabled (the StartupApproved values), and enabling, disabling and
// removing one item.
//
// Names and values reach Windows as UTF-16 through the wide registry and file
// calls; the wire carries UTF-8.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

#include <json/value.h>

#include <cstdint>
#include <string>

#include "infra/win_resource.h"

class Startup_Process {
 public:
  // The dispatcher (15000 list, 15001 action). Stores the formatter response
  // through responseText, or leaves it untouched when the request code and
  // "REQUEST" do not belong together.
  static int ServerToAgentHandler(int requestCode, Json::Value* requestData, Json::Value* responseData,
                                  char** responseText);

  // 64 when this 32-bit process runs under WOW64, else 32.
  static void detectBitness();
  static int systemBitness();

  // The inventory: "APPS_LIST" of responseData. 1 when listed, else 0 (the
  // member is then left unset).
  static int getStartup_Processes(Json::Value& responseData);
  // ExecQuery in WQL, forward-only; null when there is no connection or the
  // query failed.
  static hk::com_ptr<IEnumWbemClassObject> getObjectsPointer(const wchar_t* query, IWbemServices* services);
  static int getObject(IEnumWbemClassObject& enumerator, const wchar_t* nameProperty, Json::Value& responseData);
  // The Run values of the hive's 32-bit view, appended at counter. 1 when read
  // or not needed (32-bit Windows), 0 when the key does not open.
  static int get32bitStartup(HKEY hive, Json::Value& rows, Json::ArrayIndex& counter);
  static void enumRunValues(HKEY key, Json::Value& rows, Json::ArrayIndex& counter);

  // The SID of the loaded profile whose folder holds the user's name, through
  // the services connection of the request in progress; empty when none.
  static std::wstring getUserProfileSid(const std::wstring& user);
  // 1 enabled, 0 disabled.
  static int CheckEnablePublic(HKEY hive, const std::wstring& name);
  static int CheckEnableUser(HKEY hive, const std::wstring& name, const std::wstring& user);

  // KEY_ALL_ACCESS in the 32-bit or 64-bit view; empty (and logged) on failure.
  static hk::unique_hkey openKeyForView(HKEY hive, const std::wstring& subkey, int bitness);
  // 1 enabled, 0 disabled; a missing value (found false) is enabled.
  static int readApprovedState(hk::unique_hkey key, const std::wstring& valueName, bool& found);
  // Writes the 5 bytes only over a value that exists: 1 written, else 0.
  static int writeApprovedState(HKEY key, const std::wstring& valueName, const uint8_t (&bytes)[5]);

  static std::wstring cleanCommandPath(const std::wstring& command);
  static std::wstring expandProgramFiles(const std::wstring& text);
  // The version resource's "FileDescription" (empty when it has none),
  // "PATH_NOT_FOUND" when the file has no version information, "NULL" when
  // it could not be read.
  static std::wstring getFileDescription(const std::wstring& path);
  // status: 1 enabled, 0 disabled.
  static void addStartupRow(const std::wstring& name, const std::wstring& description, const std::wstring& location,
                            const std::wstring& user, int status, const std::wstring& startupType,
                            Json::ArrayIndex position, Json::Value& rows);

  // mode 1 enables, 2 disables. 1 when the StartupFolder approval key of the
  // user's hive opened, else 0.
  static int setStartupState(const std::wstring& name, int mode, const std::wstring& user);
  // The common startup folder's shortcut, else the Run value in the system's
  // view, else (64-bit) in the 32-bit view. 1 when something was deleted.
  static int deleteStartupEntry(const std::wstring& name);
};
