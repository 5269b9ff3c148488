#include <json/value.h>

#include <optional>

#include "core/messages.h"
#include "infra/log.h"
#include "tools/services/Service.h"
#include "tools/services/service_collect.h"
#include "tools/services/service_render.h"

using hk::services::EnumerateWin32Services;
using hk::services::QueryBuffers;
using hk::services::QueryServiceFacts;
using hk::services::ServiceEnumeration;
using hk::services::ServiceRow;

hk::Outcome hk::services::ListServices(const std::string& webClientId) {
  // Nothing outside one listing reads the list, so it lives here and starts
  // empty every time.
  Json::Value services(Json::arrayValue);
  DWORD error = 0;
  try {
    hk::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) {
      error = ::GetLastError();
      WriteLog(L"Service Manager returned NULL in Service::get_details()");
      return Outcome::False(error);
    }
    const std::optional<ServiceEnumeration> entries = EnumerateWin32Services(manager.get());
    if (!entries) error = ::GetLastError();
    if (entries) {
      const QueryBuffers buffers;
      for (DWORD i = 0; i < entries->size(); ++i) {
        const ENUM_SERVICE_STATUSW& entry = (*entries)[i];
        hk::unique_schandle service(
            ::OpenServiceW(manager.get(), entry.lpServiceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
        if (!service) {
          error = ::GetLastError();
          WriteLog(L"Service returned NULL in Service::get_details()");
          continue;
        }
        services.append(ServiceRow(QueryServiceFacts(service.get(), entry, buffers)));
      }
    }
  } catch (...) {
    WriteLog(L"Error was caught while Enumerating servie details : %s", L"Service::get_details");
  }
  // What was gathered before an error is still answered.
  try {
    if (services.size() == 0) return Outcome::False(error);
    char* response = nullptr;
    POST_JSON_success("2", "2301", services, 1, &response, webClientId);
    if (response) {
      Outcome answer = Outcome::Answer(response);
      hk::FreeText(response);
      return answer;
    }
  } catch (...) {
    WriteLog(L"Error was caught while Enumerating servie details : %s", L"Service::get_details");
  }
  return Outcome::False(error);
}

void Service::get_details(char** outcome, const std::string& webClientId) {
  const hk::Outcome listed = hk::services::ListServices(webClientId);
  if (listed.kind == hk::Outcome::Kind::kAnswer) hk::StoreOutcomeText(listed, outcome);
  ::SetLastError(listed.error);
}
