// The service tool against the real Service Control Manager of the test
// prefix, with hk_test_service.exe registered as a service.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/reader.h>

#include <memory>
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

// A listing through Service::get_details, parsed.
struct Listing {
  bool built = false;
  Json::Value envelope;
  const Json::Value& rows() const { return envelope["responseMessage"]["responseData"]["data"]; }
  std::optional<Json::Value> row(const std::wstring& name) const {
    const std::string utf8 = hk::ToUtf8(name);
    for (const Json::Value& r : rows()) {
      if (r["name"].asString() == utf8) return r;
    }
    return std::nullopt;
  }
};

Listing list_services(const std::string& webClientId = "") {
  char falseWord[] = "false";
  char* outcome = falseWord;
  Service::get_details(&outcome, webClientId);
  Listing listing;
  if (outcome == falseWord) return listing;
  const std::string text(outcome);
  hk::FreeText(outcome);
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  listing.built = reader->parse(text.data(), text.data() + text.size(), &listing.envelope, &errors);
  return listing;
}

// The Win32 services and the drivers as the manager enumerates them.
std::vector<std::wstring> enumerate_names(DWORD type) {
  hk::unique_schandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  DWORD needed = 0, count = 0, resume = 0;
  ::EnumServicesStatusW(manager.get(), type, SERVICE_STATE_ALL, nullptr, 0, &needed, &count, &resume);
  std::vector<BYTE> buffer(needed + 4096);
  resume = 0;
  std::vector<std::wstring> names;
  if (!::EnumServicesStatusW(manager.get(), type, SERVICE_STATE_ALL,
                             reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.data()), static_cast<DWORD>(buffer.size()),
                             &needed, &count, &resume)) {
    ADD_FAILURE() << "EnumServicesStatusW failed: " << ::GetLastError();
    return names;
  }
  const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSW*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) names.emplace_back(entries[i].lpServiceName);
  return names;
}

class ServiceControl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.created()) << "CreateServiceW failed: " << ::GetLastError();
    manager_ = Service::OpenManager();
    ASSERT_TRUE(manager_);
  }
  // A handle as the dispatcher opens it for start, stop and restart.
  hk::unique_schandle open(DWORD access = kStartStop) {
    return Service::OpenService(manager_.get(), service_.name(), access);
  }

  RegisteredService service_;
  hk::unique_schandle manager_;
};

}  // namespace

TEST_F(ServiceControl, StartAndStop) {
  const hk::unique_schandle handle = open();
  ASSERT_TRUE(handle);
  EXPECT_EQ(Service::Start(handle.get()), 1);
  ASSERT_TRUE(service_.wait_for(SERVICE_RUNNING));
  EXPECT_NE(service_.status().dwProcessId, 0u);

  EXPECT_EQ(Service::Stop(handle.get(), 30000), 1);
  // Stopped when Stop answers, not some time later.
  EXPECT_EQ(service_.state(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(ServiceControl, StartingARunningServiceFailsAndKeepsTheError) {
  hk::test::LogCapture log;
  const hk::unique_schandle handle = open();
  ASSERT_TRUE(service_.start_directly());
  EXPECT_EQ(Service::Start(handle.get()), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_TRUE(log.logged("Unable to start Service Error : ")) << log.text();
}

TEST_F(ServiceControl, StoppingAStoppedServiceFailsAndKeepsTheError) {
  hk::test::LogCapture log;
  const hk::unique_schandle handle = open();
  ASSERT_EQ(service_.state(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(Service::Stop(handle.get(), 30000), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_TRUE(log.logged("Unable to stop Service Error : ")) << log.text();
}

TEST_F(ServiceControl, StopThenStopAgain) {
  const hk::unique_schandle handle = open();
  ASSERT_TRUE(service_.start_directly());
  EXPECT_EQ(Service::Stop(handle.get(), 30000), 1);
  EXPECT_EQ(Service::Stop(handle.get(), 30000), 0);
  EXPECT_EQ(service_.state(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(ServiceControl, RestartRunsANewProcess) {
  ASSERT_TRUE(service_.start_directly());
  const DWORD before = service_.status().dwProcessId;
  ASSERT_NE(before, 0u);

  // As the dispatcher restarts: stop through one handle, start through another.
  {
    const hk::unique_schandle stopHandle = open(SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_TRUE(stopHandle);
    ASSERT_EQ(Service::Stop(stopHandle.get(), 30000), 1);
  }
  const hk::unique_schandle startHandle = open(SERVICE_START);
  ASSERT_TRUE(startHandle);
  EXPECT_EQ(Service::Start(startHandle.get()), 1);
  ASSERT_TRUE(service_.wait_for(SERVICE_RUNNING));
  const DWORD after = service_.status().dwProcessId;
  EXPECT_NE(after, 0u);
  EXPECT_NE(after, before);
}

TEST_F(ServiceControl, ListingDescribesTheService) {
  ASSERT_TRUE(service_.start_directly());
  const Listing listing = list_services("web-client-7");
  ASSERT_TRUE(listing.built);

  const Json::Value& e = listing.envelope;
  EXPECT_EQ(e["toolId"].asString(), "2");
  EXPECT_EQ(e["responseId"].asString(), "2");
  EXPECT_EQ(e["webClientId"].asString(), "web-client-7");
  EXPECT_EQ(e["isSuccess"].asString(), "true");
  EXPECT_EQ(e["responseMessage"]["responseCode"].asString(), "2301");
  ASSERT_TRUE(listing.rows().isArray());

  const std::optional<Json::Value> row = listing.row(service_.name());
  ASSERT_TRUE(row) << "not listed";
  EXPECT_EQ(row->getMemberNames(), (std::vector<std::string>{"description", "display_name", "groups", "name", "path",
                                                             "pid", "service_status", "start_type"}));
  EXPECT_TRUE((*row)["pid"].isIntegral());
  EXPECT_EQ((*row)["pid"].asUInt(), service_.status().dwProcessId);
  EXPECT_NE((*row)["pid"].asUInt(), 0u);
  EXPECT_EQ((*row)["display_name"].asString(), hk::ToUtf8(service_.display_name()));
  EXPECT_EQ((*row)["service_status"].asString(), "Running");
  EXPECT_EQ((*row)["start_type"].asString(), "Demand Start");
  EXPECT_EQ((*row)["path"].asString(), hk::ToUtf8(service_.binary_path()));
  EXPECT_EQ((*row)["groups"].asString(), hk::ToUtf8(service_.account()));
  EXPECT_FALSE((*row)["groups"].asString().empty());
  EXPECT_EQ((*row)["description"].asString(), hk::ToUtf8(service_.description()));
}

TEST_F(ServiceControl, ListingOfAStoppedService) {
  const Listing listing = list_services();
  ASSERT_TRUE(listing.built);
  EXPECT_FALSE(listing.envelope.isMember("webClientId"));
  const std::optional<Json::Value> row = listing.row(service_.name());
  ASSERT_TRUE(row);
  EXPECT_EQ((*row)["pid"].asUInt(), 0u);
  EXPECT_EQ((*row)["service_status"].asString(), "Stopped");
}

TEST_F(ServiceControl, ListingHoldsTheWin32ServicesInOrderAndNoDriver) {
  const Listing listing = list_services();
  ASSERT_TRUE(listing.built);
  std::vector<std::string> listed;
  for (const Json::Value& r : listing.rows()) listed.push_back(r["name"].asString());

  std::vector<std::string> expected;
  for (const std::wstring& name : enumerate_names(SERVICE_WIN32)) expected.push_back(hk::ToUtf8(name));
  EXPECT_EQ(listed, expected);
  EXPECT_GT(listed.size(), 5u);

  for (const std::wstring& driver : enumerate_names(SERVICE_DRIVER)) {
    EXPECT_FALSE(listing.row(driver)) << hk::ToUtf8(driver);
  }
}

TEST_F(ServiceControl, ChangeStartType) {
  EXPECT_EQ(Service::change_service_type(service_.name(), SERVICE_DISABLED), 1);
  EXPECT_EQ(service_.start_type(), static_cast<DWORD>(SERVICE_DISABLED));
  std::optional<Json::Value> row = list_services().row(service_.name());
  ASSERT_TRUE(row);
  EXPECT_EQ((*row)["start_type"].asString(), "Disabled");

  // A disabled service does not start.
  const hk::unique_schandle handle = open();
  EXPECT_EQ(Service::Start(handle.get()), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));

  EXPECT_EQ(Service::change_service_type(service_.name(), SERVICE_AUTO_START), 1);
  EXPECT_EQ(service_.start_type(), static_cast<DWORD>(SERVICE_AUTO_START));
  row = list_services().row(service_.name());
  ASSERT_TRUE(row);
  EXPECT_EQ((*row)["start_type"].asString(), "Auto Start");
}

TEST_F(ServiceControl, ChangeStartTypeRefusesWhatIsNoStartType) {
  EXPECT_EQ(Service::change_service_type(service_.name(), 5), 0);
  EXPECT_EQ(Service::change_service_type(service_.name(), 1000), 0);
  EXPECT_EQ(service_.start_type(), static_cast<DWORD>(SERVICE_DEMAND_START));
}

TEST(ServiceOpen, UnknownServiceFails) {
  hk::test::LogCapture log;
  const hk::unique_schandle manager = Service::OpenManager();
  ASSERT_TRUE(manager);
  const hk::unique_schandle service = Service::OpenService(
      manager.get(), L"hk-no-such-service-" + std::to_wstring(::GetCurrentProcessId()), SERVICE_START);
  EXPECT_FALSE(service);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(log.logged("unable to open service : ")) << log.text();
}

TEST(ServiceOpen, ChangeStartTypeOfAnUnknownService) {
  hk::test::LogCapture log;
  EXPECT_EQ(Service::change_service_type(L"hk-no-such-service", SERVICE_DISABLED), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(log.logged("Service returned NULL in Service::change_service_type()")) << log.text();
}

// A running service that takes about 2 s to stop, reporting a wait hint of 0
// (or, with --huge-hint, of 0xFFFFFFFF).
class SlowService : public ::testing::Test {
 protected:
  explicit SlowService(const wchar_t* arguments = L"--slow-stop") : service(arguments) {}
  void SetUp() override {
    ASSERT_TRUE(service.created());
    ASSERT_TRUE(service.start_directly());
    manager = Service::OpenManager();
    handle = Service::OpenService(manager.get(), service.name(), kStartStop);
    ASSERT_TRUE(handle);
  }
  RegisteredService service;
  hk::unique_schandle manager;
  hk::unique_schandle handle;
};

TEST_F(SlowService, ZeroWaitHintIsPolledUntilStopped) {
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(Service::Stop(handle.get(), 30000), 1);
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_EQ(service.state(), static_cast<DWORD>(SERVICE_STOPPED));
  // The service takes about 2 s: Stop answered after it had stopped, not at
  // the first pending report.
  EXPECT_GE(elapsed, 1500u);
}

TEST_F(SlowService, GivesUpAfterTheTimeout) {
  EXPECT_EQ(Service::Stop(handle.get(), 300), 0);
  EXPECT_EQ(service.state(), static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_TRUE(service.wait_for(SERVICE_STOPPED));
}

class HugeHintService : public SlowService {
 protected:
  HugeHintService() : SlowService(L"--huge-hint") {}
};

TEST_F(HugeHintService, WaitEndsAtTheTimeoutNotAtTheHint) {
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(Service::Stop(handle.get(), 500), 0);
  // Sleeping the hint as given would hold this thread for 49 days.
  EXPECT_LT(::GetTickCount() - start, 10000u);
  EXPECT_TRUE(service.wait_for(SERVICE_STOPPED));
}
