// The row of one service from what the three queries said, and the names.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/writer.h>

#include <functional>
#include <string>

#include "support/log_capture.h"
#include "tools/services/Service.h"
#include "tools/services/service_render.h"

using hk::services::ServiceFacts;
using hk::services::ServiceRow;

namespace {

// A service as the three queries describe it; the enumeration saw it stopped.
struct Described {
  std::wstring path = L"C:\\windows\\system32\\spoolsv.exe -k", account = L"LocalSystem", text = L"Queues print jobs";
  SERVICE_STATUS_PROCESS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0, 4242, 0};
  QUERY_SERVICE_CONFIGW config{0, SERVICE_AUTO_START, 0, path.data(), nullptr, 0, nullptr, account.data(), nullptr};
  SERVICE_DESCRIPTIONW description{text.data()};
  ServiceFacts facts{L"Sp\u00f6oler", L"Druckwarteschlange \u2013 Spooler", SERVICE_STOPPED, &status, &config,
                     &description};
};

}  // namespace

// Each member from the query that gave it; a value without a name is
// empty and logged.
TEST(ServiceRow, MembersFromTheQueriesThatAnswered) {
  hk::test::LogCapture log;
  const auto check = [](const char* name, const std::function<void(Described&)>& change, const std::string& expected) {
    Described d;
    change(d);
    EXPECT_EQ(Json::FastWriter().write(ServiceRow(d.facts)), "{" + expected + "}\n") << name;
  };
  const std::string texts =
      R"("description":"Queues print jobs","display_name":"Druckwarteschlange \u2013 Spooler",)"
      R"("groups":"LocalSystem","name":"Sp\u00f6oler","path":"C:\\windows\\system32\\spoolsv.exe -k",)";
  check(
      "every query answered", [](Described&) {},
      texts + R"("pid":4242,"service_status":"Running","start_type":"Auto Start")");
  check(
      "null texts are left out",
      [](Described& d) {
        d.facts.displayName = nullptr;
        d.config.lpBinaryPathName = d.config.lpServiceStartName = d.description.lpDescription = nullptr;
      },
      R"("name":"Sp\u00f6oler","pid":4242,"service_status":"Running","start_type":"Auto Start")");
  check(
      "an empty text stays", [](Described& d) { d.text.clear(); },
      R"("description":"",)" + texts.substr(texts.find("\"display_name")) +
          R"("pid":4242,"service_status":"Running","start_type":"Auto Start")");
  check(
      "no status: pid 0 and the enumerated state", [](Described& d) { d.facts.status = nullptr; },
      texts + R"("pid":0,"service_status":"Stopped","start_type":"Auto Start")");
  check(
      "no configuration and no description",
      [](Described& d) { d.facts.config = nullptr, d.facts.description = nullptr; },
      R"("display_name":"Druckwarteschlange \u2013 Spooler","name":"Sp\u00f6oler","pid":4242,)"
      R"("service_status":"Running","start_type":"")");
  EXPECT_FALSE(log.contains("invalid flag")) << log.text();
  check(
      "unknown state and start type", [](Described& d) { d.status.dwCurrentState = 99, d.config.dwStartType = 17; },
      texts + R"("pid":4242,"service_status":"","start_type":"")");
  EXPECT_TRUE(log.logged("invalid flag in  Service::service_status()")) << log.text();
  EXPECT_TRUE(log.logged("invalid flag in  Service::service_start_type()")) << log.text();
}
