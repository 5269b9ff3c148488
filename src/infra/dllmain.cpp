#include <windows.h>

#include "infra/log.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    try {
      const bool agent = IsAgentWorkingDirectory();
      InitLog(L"ToolsSys", L"o.1", L"ToolsSys.log", agent, L"", agent);
      SetLogLevel(2);
      LogBuildBanner();
      WriteLog(L"Init instance : Host Keeper");
    } catch (...) {
      // The host must load us even when the log cannot be set up.
    }
  }
  return TRUE;
}
