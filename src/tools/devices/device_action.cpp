// A device action: the device action program does the work on its own; its
// start and the device's status a little later decide the answer.
#include <windows.h>

#include "infra/child_process.h"
#include "infra/log.h"
#include "tools/devices/DeviceManager.h"
#include "tools/devices/device_api.h"

namespace hk::devices {
namespace {

// Time the action program gets before the device's status is read back.
constexpr DWORD kSettleMs = 3000;

std::wstring HostExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  path.resize(length < MAX_PATH ? length : MAX_PATH - 1);
  return path;
}

}  // namespace

void InitiateDevExe(const std::string& action, const std::wstring& deviceId, const std::wstring& classGuid,
                    Json::Value& data) {
  std::wstring commandLine =
      DevExeFolder(HostExecutablePath()) + DevExeName(IsWow64()) + DevExeArguments(action, classGuid, deviceId);
  WriteLog(L"path is %s\n", commandLine.c_str());
  const unsigned started = ExecuteFiltered(nullptr, commandLine.data(), 0, false);
  data["ACTION_NAME"] = action;
  if (started != 0) {
    data["ACTION_RESULT"] = "Failed";
    WriteLog(L"InitiateDevExe : DevExe not invoked \n");
    return;
  }
  WriteLog(L"InitiateDevExe : DevExe invoked successfully \n");
  g_deviceApi.sleep(kSettleMs);
  const std::wstring status = getThisDeviceStatus(deviceId);
  WriteLog(L"out is %s\n", status.c_str());
  data["ACTION_RESULT"] = ActionSucceeded(action, status) ? "Success" : "Failed";
}

}  // namespace hk::devices
