// The service tool: one row from what the three queries said, and the tool
// against the test prefix's real manager with hk_test_service.exe registered.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include <functional>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/text.h"
#include "registered_service.h"
#include "support/log_capture.h"
#include "support/wire_texts.h"
#include "tools/services/Service.h"
#include "tools/services/service_render.h"

using hk::services::ServiceFacts;
using hk::services::ServiceRow;
using hk::test::RegisteredService;

namespace {

constexpr DWORD kStartStop = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;

// A listing through Service::get_details, parsed.
Json::Value list_services(const std::string& webClientId = "") {
  char* outcome = nullptr;
  Service::get_details(&outcome, webClientId);
  Json::Value envelope;
  Json::Reader().parse(hk::test::TakeOutcome(outcome), envelope);
  return envelope;
}

// The names in a listing, and the row of one of them (null when missing).
std::vector<std::string> names_of(const Json::Value& envelope, const std::wstring& name, Json::Value& row) {
  std::vector<std::string> names;
  for (const Json::Value& r : envelope["responseMessage"]["responseData"]["data"]) {
    names.push_back(r["name"].asString());
    if (names.back() == hk::ToUtf8(name)) row = r;
  }
  return names;
}

// A service as the three queries describe it; the enumeration saw it stopped.
struct Described {
  std::wstring path = L"C:\\windows\\system32\\spoolsv.exe -k", account = L"LocalSystem", text = L"Queues print jobs";
  SERVICE_STATUS_PROCESS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0, 4242, 0};
  QUERY_SERVICE_CONFIGW config{0, SERVICE_AUTO_START, 0, path.data(), nullptr, 0, nullptr, account.data(), nullptr};
  SERVICE_DESCRIPTIONW description{text.data()};
  ServiceFacts facts{L"Sp\u00f6oler", L"Druckwarteschlange \u2013 Spooler", SERVICE_STOPPED, &status, &config,
                     &description};
};

class ServiceControl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.created()) << "CreateServiceW failed: " << ::GetLastError();
    handle_ = Service::OpenService(Service::OpenManager().get(), service_.name(), kStartStop);
    ASSERT_TRUE(handle_);
  }
  RegisteredService service_;
  hk::unique_schandle handle_;
};

}  // namespace

// Each member from the query that gave it; a value without a name is
// empty and logged.
TEST(ServiceRow, MembersFromTheQueriesThatAnswered) {
  hk::test::LogCapture log;
  const auto check = [](const char* name, const std::string& expected, const std::function<void(Described&)>& change) {
    Described d;
    change(d);
    EXPECT_EQ(Json::FastWriter().write(ServiceRow(d.facts)), "{" + expected + "}\n") << name;
  };
  const std::string texts =
      R"("description":"Queues print jobs","display_name":"Druckwarteschlange \u2013 Spooler",)"
      R"("groups":"LocalSystem","name":"Sp\u00f6oler","path":"C:\\windows\\system32\\spoolsv.exe -k",)";
  const std::string running = R"("pid":4242,"service_status":"Running","start_type":"Auto Start")";
  check("every query answered", texts + running, [](Described&) {});
  check("null texts are left out", R"("name":"Sp\u00f6oler",)" + running, [](Described& d) {
    d.facts.displayName = nullptr;
    d.config.lpBinaryPathName = d.config.lpServiceStartName = d.description.lpDescription = nullptr;
  });
  check("an empty text stays", R"("description":"",)" + texts.substr(texts.find("\"display_name")) + running,
        [](Described& d) { d.text.clear(); });
  check("no status: pid 0 and the enumerated state",
        texts + R"("pid":0,"service_status":"Stopped","start_type":"Auto Start")",
        [](Described& d) { d.facts.status = nullptr; });
  check("no configuration and no description",
        R"("display_name":"Druckwarteschlange \u2013 Spooler","name":"Sp\u00f6oler","pid":4242,)"
        R"("service_status":"Running","start_type":"")",
        [](Described& d) { d.facts.config = nullptr, d.facts.description = nullptr; });
  EXPECT_FALSE(log.contains("invalid flag")) << log.text();
  check("unknown state and start type", texts + R"("pid":4242,"service_status":"","start_type":"")",
        [](Described& d) { d.status.dwCurrentState = 99, d.config.dwStartType = 17; });
  EXPECT_TRUE(log.logged("invalid flag in  Service::service_status()")) << log.text();
  EXPECT_TRUE(log.logged("invalid flag in  Service::service_start_type()")) << log.text();
}

// Start and stop each answer once (again: the system's error and a log line);
// the listing shows the service running, then stopped and disabled.
TEST_F(ServiceControl, StartStopAndTheListingOfTheServiceRunningAndDisabled) {
  hk::test::LogCapture log;
  EXPECT_EQ(Service::Start(handle_.get()), 1);
  ASSERT_TRUE(service_.wait_for(SERVICE_RUNNING));
  EXPECT_EQ(Service::Start(handle_.get()), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_TRUE(log.logged("Unable to start Service Error : ")) << log.text();

  Json::Value listing = list_services("web-client-7"), row;
  EXPECT_TRUE(listing["toolId"] == "2" && listing["responseId"] == "2" && listing["webClientId"] == "web-client-7");
  EXPECT_EQ(listing["responseMessage"]["responseCode"], "2301");
  std::vector<std::string> win32;
  hk::test::ForEachWin32Service(Service::OpenManager().get(),
                                [&](const wchar_t* name) { win32.push_back(hk::ToUtf8(name)); });
  EXPECT_EQ(names_of(listing, service_.name(), row), win32) << "every Win32 service in the manager's order, no driver";
  const auto q = [](const std::wstring& text) { return Json::valueToQuotedString(hk::ToUtf8(text).c_str()); };
  EXPECT_EQ(Json::FastWriter().write(row),
            "{\"description\":" + q(service_.description()) + ",\"display_name\":" + q(service_.display_name()) +
                ",\"groups\":" + q(service_.config().second) + ",\"name\":" + q(service_.name()) +
                ",\"path\":" + q(service_.binary_path()) + ",\"pid\":" + std::to_string(service_.status().dwProcessId) +
                ",\"service_status\":\"Running\",\"start_type\":\"Demand Start\"}\n");
  EXPECT_TRUE(row["pid"] != 0 && row["groups"] != "") << row;

  EXPECT_EQ(Service::Stop(handle_.get(), 30000), 1);
  EXPECT_EQ(service_.state(), static_cast<DWORD>(SERVICE_STOPPED)) << "stopped when Stop answers, not later";
  EXPECT_EQ(Service::Stop(handle_.get(), 30000), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_TRUE(log.logged("Unable to stop Service Error : ")) << log.text();
  EXPECT_EQ(Service::change_service_type(service_.name(), SERVICE_DISABLED), 1);
  listing = list_services();
  EXPECT_FALSE(listing.isMember("webClientId"));
  names_of(listing, service_.name(), row);
  EXPECT_TRUE(row["pid"] == 0 && row["service_status"] == "Stopped" && row["start_type"] == "Disabled") << row;
}

TEST_F(ServiceControl, WhatCannotBeOpenedOrIsNoStartTypeFails) {
  hk::test::LogCapture log;
  EXPECT_EQ(Service::change_service_type(service_.name(), 5), 0);
  EXPECT_EQ(service_.config().first, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(Service::change_service_type(L"hk-no-such-service", SERVICE_DISABLED), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(log.logged("Service returned NULL in Service::change_service_type()")) << log.text();
  EXPECT_TRUE(log.logged("unable to open service : ")) << log.text();
}

// A running service that takes about 2 s to stop, reporting a wait hint of 0
// or of 0xFFFFFFFF: Stop gives up at its time-out.
TEST(ServiceStop, WaitsForASlowServiceNoLongerThanTheTimeoutWhateverItsHint) {
  const std::pair<const wchar_t*, DWORD> cases[] = {{L"0", 300}, {L"0xFFFFFFFF", 500}};
  for (const auto& [arguments, timeoutMs] : cases) {
    RegisteredService service(arguments);
    ASSERT_TRUE(service.created() && service.start_directly());
    const hk::unique_schandle handle = Service::OpenService(Service::OpenManager().get(), service.name(), kStartStop);
    EXPECT_EQ(Service::Stop(handle.get(), timeoutMs), 0) << timeoutMs;
    EXPECT_EQ(service.state(), static_cast<DWORD>(SERVICE_STOP_PENDING)) << "Stop returned before the service stopped";
    EXPECT_TRUE(service.wait_for(SERVICE_STOPPED));
  }
}
