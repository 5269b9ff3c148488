// The row of one service from what the three queries said, and the names.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/writer.h>

#include <functional>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "tools/services/Service.h"
#include "tools/services/service_render.h"

using hk::services::ServiceFacts;
using hk::services::ServiceRow;

TEST(ServiceNames, OtherValuesAreEmptyAndLogged) {
  const struct {
    std::string (*name)(DWORD);
    DWORD value;
    const char* expected;
    const char* line;  // logged, or null for nothing
  } cases[] = {
      {&Service::service_status, SERVICE_RUNNING, "Running", nullptr},
      {&Service::service_status, 8, "", "invalid flag in  Service::service_status()"},
      {&Service::service_start_type, SERVICE_DISABLED, "Disabled", nullptr},
      {&Service::service_start_type, 0xFFFFFFFF, "", "invalid flag in  Service::service_start_type()"},
  };
  for (const auto& c : cases) {
    hk::test::LogCapture log;
    EXPECT_EQ(c.name(c.value), c.expected) << c.value;
    EXPECT_EQ(log.contains("invalid flag"), c.line != nullptr) << c.value << ": " << log.text();
    if (c.line) {
      EXPECT_TRUE(log.logged(c.line)) << c.value << ": " << log.text();
    }
  }
}

TEST(ServiceRow, MembersFromTheQueriesThatAnswered) {
  // A service as the three queries describe it; the enumeration saw it stopped.
  std::wstring path = L"C:\\windows\\system32\\spoolsv.exe -k", account = L"LocalSystem", text = L"Queues print jobs",
               empty;
  SERVICE_STATUS_PROCESS status{};
  status.dwCurrentState = SERVICE_RUNNING;
  status.dwProcessId = 4242;
  QUERY_SERVICE_CONFIGW config{};
  config.dwStartType = SERVICE_AUTO_START;
  config.lpBinaryPathName = path.data();
  config.lpServiceStartName = account.data();
  SERVICE_DESCRIPTIONW description{text.data()};
  const ServiceFacts all{L"Sp\u00f6oler", L"Druckwarteschlange \u2013 Spooler", SERVICE_STOPPED, &status, &config,
                         &description};
  Json::Value full;
  full["name"] = "Sp\xc3\xb6oler";
  full["display_name"] = "Druckwarteschlange \xe2\x80\x93 Spooler";
  full["pid"] = 4242u;
  full["service_status"] = "Running";
  full["start_type"] = "Auto Start";
  full["path"] = "C:\\windows\\system32\\spoolsv.exe -k";
  full["groups"] = "LocalSystem";
  full["description"] = "Queues print jobs";
  const struct {
    const char* name;
    std::function<void(ServiceFacts&)> change;
    std::vector<std::pair<const char*, Json::Value>> differences;  // null: left out
  } cases[] = {
      {"every query answered", [](ServiceFacts&) {}, {}},
      {"null texts are left out",
       [&](ServiceFacts& f) {
         f.displayName = nullptr;
         config.lpBinaryPathName = config.lpServiceStartName = description.lpDescription = nullptr;
       },
       {{"display_name", {}}, {"path", {}}, {"groups", {}}, {"description", {}}}},
      {"an empty text stays", [&](ServiceFacts&) { description.lpDescription = empty.data(); }, {{"description", ""}}},
      {"no status: pid 0 and the enumerated state",
       [](ServiceFacts& f) { f.status = nullptr; },
       {{"pid", 0u}, {"service_status", "Stopped"}}},
      {"no configuration and no description",
       [](ServiceFacts& f) { f.config = nullptr, f.description = nullptr; },
       {{"start_type", ""}, {"path", {}}, {"groups", {}}, {"description", {}}}},
      {"unknown state and start type",
       [&](ServiceFacts&) { status.dwCurrentState = 99, config.dwStartType = 17; },
       {{"service_status", ""}, {"start_type", ""}}},
  };
  for (const auto& c : cases) {
    const SERVICE_STATUS_PROCESS savedStatus = status;
    const QUERY_SERVICE_CONFIGW savedConfig = config;
    ServiceFacts facts = all;
    c.change(facts);
    Json::Value expected = full;
    for (const auto& [key, value] : c.differences) {
      if (value.isNull()) expected.removeMember(key);
      if (!value.isNull()) expected[key] = value;
    }
    EXPECT_EQ(ServiceRow(facts), expected) << c.name;
    status = savedStatus;
    config = savedConfig;
    description.lpDescription = text.data();
  }
}
