#include "tools/services/service_render.h"

#include "core/text.h"
#include "infra/log.h"
#include "tools/services/Service.h"

namespace hk::services {
namespace {

void set_text(Json::Value& row, const char* key, const wchar_t* text) {
  if (text) row[key] = hk::ToUtf8(text);
}

}  // namespace

Json::Value ServiceRow(const ServiceFacts& facts) {
  Json::Value row(Json::objectValue);
  row["pid"] = facts.status ? static_cast<Json::UInt>(facts.status->dwProcessId) : 0u;
  row["name"] = facts.name ? hk::ToUtf8(facts.name) : std::string();
  set_text(row, "display_name", facts.displayName);
  row["service_status"] = Service::service_status(facts.status ? facts.status->dwCurrentState : facts.enumeratedState);
  row["start_type"] = facts.config ? Service::service_start_type(facts.config->dwStartType) : std::string();
  if (facts.config) {
    set_text(row, "path", facts.config->lpBinaryPathName);
    set_text(row, "groups", facts.config->lpServiceStartName);
  }
  if (facts.description) set_text(row, "description", facts.description->lpDescription);
  return row;
}

}  // namespace hk::services

// https://learn.microsoft.com/windows/win32/api/winsvc/ns-winsvc-service_status_process
std::string Service::service_status(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return "Stopped";
    case SERVICE_START_PENDING:
      return "Starting";
    case SERVICE_STOP_PENDING:
      return "Stopping";
    case SERVICE_RUNNING:
      return "Running";
    case SERVICE_CONTINUE_PENDING:
      return "Resuming";
    case SERVICE_PAUSE_PENDING:
      return "Pausing";
    case SERVICE_PAUSED:
      return "Paused";
    default:
      WriteLog(L"invalid flag in  Service::service_status()");
      return "";
  }
}

// https://learn.microsoft.com/windows/win32/api/winsvc/ns-winsvc-query_service_configw
std::string Service::service_start_type(DWORD type) {
  switch (type) {
    case SERVICE_BOOT_START:
      return "Boot Start";
    case SERVICE_SYSTEM_START:
      return "System Start";
    case SERVICE_AUTO_START:
      return "Auto Start";
    case SERVICE_DEMAND_START:
      return "Demand Start";
    case SERVICE_DISABLED:
      return "Disabled";
    default:
      WriteLog(L"invalid flag in  Service::service_start_type()");
      return "";
  }
}
