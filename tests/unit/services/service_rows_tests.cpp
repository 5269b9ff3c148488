// The plain parts of the service tool: the name tables, the row of one
// service, and the growing buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "tools/services/Service.h"
#include "tools/services/service_render.h"

using hk::services::ServiceFacts;
using hk::services::ServiceRow;

TEST(ServiceNames, StateNames) {
  const std::vector<std::pair<DWORD, std::string>> table = {
      {SERVICE_STOPPED, "Stopped"}, {SERVICE_START_PENDING, "Starting"},    {SERVICE_STOP_PENDING, "Stopping"},
      {SERVICE_RUNNING, "Running"}, {SERVICE_CONTINUE_PENDING, "Resuming"}, {SERVICE_PAUSE_PENDING, "Pausing"},
      {SERVICE_PAUSED, "Paused"}};
  for (const auto& [state, name] : table) EXPECT_EQ(Service::service_status(state), name) << state;
}

TEST(ServiceNames, StartTypeNames) {
  const std::vector<std::pair<DWORD, std::string>> table = {{SERVICE_BOOT_START, "Boot Start"},
                                                            {SERVICE_SYSTEM_START, "System Start"},
                                                            {SERVICE_AUTO_START, "Auto Start"},
                                                            {SERVICE_DEMAND_START, "Demand Start"},
                                                            {SERVICE_DISABLED, "Disabled"}};
  for (const auto& [type, name] : table) EXPECT_EQ(Service::service_start_type(type), name) << type;
}

TEST(ServiceNames, OtherValuesAreEmptyAndLogged) {
  for (DWORD state : {0ul, 8ul, 0xFFFFFFFFul}) {
    hk::test::LogCapture log;
    EXPECT_EQ(Service::service_status(state), "") << state;
    EXPECT_TRUE(log.logged("invalid flag in  Service::service_status()")) << log.text();
    EXPECT_FALSE(log.logged("invalid flag in  Service::service_start_type()"));
  }
  for (DWORD type : {5ul, 0xFFFFFFFFul}) {
    hk::test::LogCapture log;
    EXPECT_EQ(Service::service_start_type(type), "") << type;
    EXPECT_TRUE(log.logged("invalid flag in  Service::service_start_type()")) << log.text();
  }
}

TEST(ServiceNames, KnownValuesLogNothing) {
  hk::test::LogCapture log;
  Service::service_status(SERVICE_RUNNING);
  Service::service_start_type(SERVICE_DISABLED);
  EXPECT_EQ(log.text().find("invalid flag"), std::string::npos) << log.text();
}

namespace {

// A service as the three queries describe it, with texts to point at.
struct FakeService {
  std::wstring name = L"Sp\u00f6oler";
  std::wstring display = L"Druckwarteschlange \u2013 Spooler";
  std::wstring path = L"C:\\windows\\system32\\spoolsv.exe -k";
  std::wstring account = L"LocalSystem";
  std::wstring descriptionText = L"Queues print jobs";
  SERVICE_STATUS_PROCESS status{};
  QUERY_SERVICE_CONFIGW config{};
  SERVICE_DESCRIPTIONW description{};

  FakeService() {
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwProcessId = 4242;
    config.dwStartType = SERVICE_AUTO_START;
    config.lpBinaryPathName = path.data();
    config.lpServiceStartName = account.data();
    description.lpDescription = descriptionText.data();
  }
  ServiceFacts facts() {
    ServiceFacts f;
    f.name = name.c_str();
    f.displayName = display.c_str();
    f.enumeratedState = SERVICE_STOPPED;  // differs from the status query on purpose
    f.status = &status;
    f.config = &config;
    f.description = &description;
    return f;
  }
};

std::vector<std::string> keys_of(const Json::Value& row) { return row.getMemberNames(); }

}  // namespace

TEST(ServiceRow, EveryMemberFromItsSource) {
  FakeService fake;
  const Json::Value row = ServiceRow(fake.facts());
  EXPECT_EQ(row["pid"].asUInt(), 4242u);
  EXPECT_TRUE(row["pid"].isIntegral());
  EXPECT_EQ(row["name"].asString(), "Sp\xc3\xb6oler");
  EXPECT_EQ(row["display_name"].asString(), "Druckwarteschlange \xe2\x80\x93 Spooler");
  EXPECT_EQ(row["service_status"].asString(), "Running");
  EXPECT_EQ(row["start_type"].asString(), "Auto Start");
  EXPECT_EQ(row["path"].asString(), "C:\\windows\\system32\\spoolsv.exe -k");
  EXPECT_EQ(row["groups"].asString(), "LocalSystem");
  EXPECT_EQ(row["description"].asString(), "Queues print jobs");
  EXPECT_EQ(keys_of(row).size(), 8u);
}

TEST(ServiceRow, NullTextsAreLeftOut) {
  FakeService fake;
  ServiceFacts facts = fake.facts();
  facts.displayName = nullptr;
  fake.config.lpBinaryPathName = nullptr;
  fake.config.lpServiceStartName = nullptr;
  fake.description.lpDescription = nullptr;
  const Json::Value row = ServiceRow(facts);
  EXPECT_EQ(keys_of(row), (std::vector<std::string>{"name", "pid", "service_status", "start_type"}));
}

TEST(ServiceRow, EmptyTextsStay) {
  FakeService fake;
  fake.descriptionText.clear();
  fake.description.lpDescription = fake.descriptionText.data();
  const Json::Value row = ServiceRow(fake.facts());
  ASSERT_TRUE(row.isMember("description"));
  EXPECT_EQ(row["description"].asString(), "");
}

TEST(ServiceRow, FailedQueriesGiveNoMembersFromThem) {
  FakeService fake;
  ServiceFacts facts = fake.facts();

  facts.status = nullptr;  // pid 0, the state the enumeration saw
  Json::Value row = ServiceRow(facts);
  EXPECT_EQ(row["pid"].asUInt(), 0u);
  EXPECT_EQ(row["service_status"].asString(), "Stopped");
  EXPECT_EQ(row["start_type"].asString(), "Auto Start");

  facts.config = nullptr;
  row = ServiceRow(facts);
  EXPECT_EQ(row["start_type"].asString(), "");
  EXPECT_FALSE(row.isMember("path"));
  EXPECT_FALSE(row.isMember("groups"));
  EXPECT_TRUE(row.isMember("description"));

  facts.description = nullptr;
  row = ServiceRow(facts);
  EXPECT_FALSE(row.isMember("description"));
  EXPECT_EQ(keys_of(row), (std::vector<std::string>{"display_name", "name", "pid", "service_status", "start_type"}));
}

TEST(ServiceRow, UnknownStateAndStartTypeAreEmpty) {
  FakeService fake;
  fake.status.dwCurrentState = 99;
  fake.config.dwStartType = 17;
  const Json::Value row = ServiceRow(fake.facts());
  EXPECT_EQ(row["service_status"].asString(), "");
  EXPECT_EQ(row["start_type"].asString(), "");
}
