// The service tool against the real Service Control Manager of the test
// prefix, with hk_test_service.exe registered as a service.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include <optional>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/text.h"
#include "registered_service.h"
#include "support/log_capture.h"
#include "tools/services/Service.h"

using hk::test::RegisteredService;

namespace {

constexpr DWORD kStartStop = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;

// A listing through Service::get_details, parsed; null when nothing was built.
Json::Value list_services(const std::string& webClientId = "") {
  char falseWord[] = "false";
  char* outcome = falseWord;
  Service::get_details(&outcome, webClientId);
  Json::Value envelope;
  if (outcome == falseWord) return envelope;
  Json::Reader().parse(outcome, envelope);
  hk::FreeText(outcome);
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

// The names of the Win32 services as the manager enumerates them.
std::vector<std::string> enumerate_win32_names() {
  hk::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  std::vector<BYTE> buffer(1 << 20);
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.data());
  DWORD needed = 0, count = 0, resume = 0;
  EXPECT_TRUE(::EnumServicesStatusW(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL, entries,
                                    static_cast<DWORD>(buffer.size()), &needed, &count, &resume));
  std::vector<std::string> names;
  for (DWORD i = 0; i < count; ++i) names.push_back(hk::ToUtf8(entries[i].lpServiceName));
  return names;
}

class ServiceControl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.created()) << "CreateServiceW failed: " << ::GetLastError();
    manager_ = Service::OpenManager();
    handle_ = Service::OpenService(manager_.get(), service_.name(), kStartStop);
    ASSERT_TRUE(handle_);
  }
  RegisteredService service_;
  hk::unique_schandle manager_, handle_;
};

}  // namespace

TEST_F(ServiceControl, StartAndStopEachOnceAndTheErrorsOfTheSecondTime) {
  hk::test::LogCapture log;
  EXPECT_EQ(Service::Start(handle_.get()), 1);
  ASSERT_TRUE(service_.wait_for(SERVICE_RUNNING));
  EXPECT_EQ(Service::Start(handle_.get()), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_TRUE(log.logged("Unable to start Service Error : ")) << log.text();

  EXPECT_EQ(Service::Stop(handle_.get(), 30000), 1);
  EXPECT_EQ(service_.state(), static_cast<DWORD>(SERVICE_STOPPED)) << "stopped when Stop answers, not later";
  EXPECT_EQ(Service::Stop(handle_.get(), 30000), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_TRUE(log.logged("Unable to stop Service Error : ")) << log.text();
}

TEST_F(ServiceControl, ListingDescribesTheServiceRunningAndDisabled) {
  ASSERT_TRUE(service_.start_directly());
  Json::Value listing = list_services("web-client-7"), row;
  EXPECT_TRUE(listing["toolId"] == "2" && listing["responseId"] == "2" && listing["webClientId"] == "web-client-7");
  EXPECT_EQ(listing["responseMessage"]["responseCode"], "2301");
  EXPECT_EQ(names_of(listing, service_.name(), row), enumerate_win32_names())
      << "every Win32 service in the manager's order, no driver";
  Json::Value expected;
  expected["pid"] = static_cast<Json::Int>(service_.status().dwProcessId);  // as the reader parses it
  expected["name"] = hk::ToUtf8(service_.name());
  expected["display_name"] = hk::ToUtf8(service_.display_name());
  expected["service_status"] = "Running";
  expected["start_type"] = "Demand Start";
  expected["path"] = hk::ToUtf8(service_.binary_path());
  expected["groups"] = hk::ToUtf8(service_.config().second);
  expected["description"] = hk::ToUtf8(service_.description());
  EXPECT_EQ(row, expected);
  EXPECT_NE(row["pid"].asUInt(), 0u);
  EXPECT_NE(row["groups"], "");

  ASSERT_EQ(Service::Stop(handle_.get(), 30000), 1);
  EXPECT_EQ(Service::change_service_type(service_.name(), SERVICE_DISABLED), 1);
  EXPECT_EQ(service_.start_type(), static_cast<DWORD>(SERVICE_DISABLED));
  EXPECT_EQ(Service::Start(handle_.get()), 0) << "a disabled service does not start";
  listing = list_services();
  EXPECT_FALSE(listing.isMember("webClientId"));
  names_of(listing, service_.name(), row);
  EXPECT_TRUE(row["pid"] == 0 && row["service_status"] == "Stopped" && row["start_type"] == "Disabled") << row;
}

TEST_F(ServiceControl, WhatCannotBeOpenedOrIsNoStartTypeFails) {
  hk::test::LogCapture log;
  EXPECT_EQ(Service::change_service_type(service_.name(), 5), 0);
  EXPECT_EQ(service_.start_type(), static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(Service::change_service_type(L"hk-no-such-service", SERVICE_DISABLED), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(log.logged("Service returned NULL in Service::change_service_type()")) << log.text();
  EXPECT_TRUE(log.logged("unable to open service : ")) << log.text();
}

// A running service that takes about 2 s to stop, reporting a wait hint of 0
// (--slow-stop) or of 0xFFFFFFFF (--huge-hint).
TEST(ServiceStop, WaitsForASlowServiceWithinTheTimeoutWhateverItsHint) {
  const struct {
    const wchar_t* arguments;
    DWORD timeoutMs;
    int result;
    DWORD stateAfter;
  } cases[] = {{L"--slow-stop", 30000, 1, SERVICE_STOPPED},
               {L"--slow-stop", 300, 0, SERVICE_STOP_PENDING},
               {L"--huge-hint", 500, 0, SERVICE_STOP_PENDING}};
  for (const auto& c : cases) {
    RegisteredService service(c.arguments);
    ASSERT_TRUE(service.created() && service.start_directly());
    const hk::unique_schandle manager = Service::OpenManager();
    const hk::unique_schandle handle = Service::OpenService(manager.get(), service.name(), kStartStop);
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(Service::Stop(handle.get(), c.timeoutMs), c.result) << c.timeoutMs;
    // Sleeping a hint of 0xFFFFFFFF as given would hold this thread for 49 days.
    EXPECT_LT(::GetTickCount() - start, c.timeoutMs + 10000) << c.timeoutMs;
    EXPECT_EQ(service.state(), c.stateAfter) << c.timeoutMs;
    EXPECT_TRUE(service.wait_for(SERVICE_STOPPED));
  }
}
