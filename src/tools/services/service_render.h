// The part of the service tool that turns what the Service Control Manager
// said about one service into a row of the listing.
#pragma once
#include <windows.h>

#include <json/value.h>

namespace hk::services {

// What the listing knows about one service. The pointers of a query that
// failed are null.
struct ServiceFacts {
  const wchar_t* name = nullptr;                      // from the enumeration
  const wchar_t* displayName = nullptr;               // from the enumeration
  DWORD enumeratedState = 0;                          // the state the enumeration saw
  const SERVICE_STATUS_PROCESS* status = nullptr;     // QueryServiceStatusEx
  const QUERY_SERVICE_CONFIGW* config = nullptr;      // QueryServiceConfigW
  const SERVICE_DESCRIPTIONW* description = nullptr;  // QueryServiceConfig2W
};

// "pid", "name", "service_status" and "start_type" are always present;
// "display_name", "path", "groups" and "description" only when there is a
// text to show. Without the status query, "pid" is 0 and the state is the
// one the enumeration saw; without the configuration, "start_type" is "".
Json::Value ServiceRow(const ServiceFacts& facts);

}  // namespace hk::services
