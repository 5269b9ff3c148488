// Requests delivered as the socket delivers them, answers seen on the socket.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Chostkeeper.h"
#include "core/globals.h"
#include "core/text.h"
#include "processes/child_process.h"
#include "services/registered_service.h"
#include "support/recording_socket.h"
#include "support/wire_texts.h"

namespace {

using hk::test::Failure;
using hk::test::Request;
using hk::test::Success;
using Texts = std::vector<std::string>;

class Dispatch : public ::testing::Test {
 protected:
  void TearDown() override { g_running = 0; }
  // Delivered through the handler's text callback, as a received frame is,
  // on a connection that serves (as after a new connection).
  Texts serve(const std::string& text) {
    g_running = 1;
    g_stopped = 0;
    session_.clear();
    session_.socket().DeliverText(text);
    return session_.texts();
  }
  hk::test::RecordingWsSession session_;
};

}  // namespace

// The exact texts of the answers; that invalid requests stop and unserved
// codes are ignored is checked on every request the fuzzer sends.
TEST_F(Dispatch, RoutesByToolAndCode) {
  const auto check = [&](const char* name, const std::string& text, const Texts& answers, int runningAfter) {
    EXPECT_EQ(serve(text), answers) << name;
    EXPECT_EQ(g_running.load(), runningAfter) << name;
  };
  check("2105 answers then stops", Request(2, 2105), {Success("2", "2104", "Agent Terminated")}, 0);
  check("3105 answers then stops", Request(3, 3105), {Success("3", "3104", "Agent Terminated")}, 0);
  check("1105 answers then stops, the web client id in UTF-8 both ways",
        Request(1, 1105, "{}", ",\"webClientId\":\"Zo\xC3\xAB-\xE4\xB8\xAD\""),
        {Success("1", "1104", "Agent Terminated", "Zo\xC3\xAB-\xE4\xB8\xAD")}, 0);
  check("tool 5 goes to the formatter handler", Request(5, 5100), {""}, 1);
  // "abc" has no leading digits: process 0, which cannot be opened.
  ::SetLastError(0);
  ::OpenProcess(PROCESS_TERMINATE, FALSE, 0);
  std::string cannotOpen;
  Chostkeeper::format(::GetLastError(), cannotOpen);
  ASSERT_FALSE(cannotOpen.empty());
  check("a process that cannot be opened", Request(1, 1005, R"({"cmd":"abc"})"), {Failure("1", "1605", cannotOpen)}, 1);
  const std::string unknown = R"({"cmd":"hk-no-such-service"})";
  check("start of an unknown service", Request(2, 2006, unknown), {Failure("2", "2106", "Error while opening Service")},
        1);
  check("stop of an unknown service", Request(2, 2007, unknown), {Failure("2", "2106", "Unable to open Service")}, 1);
  check("restart of an unknown service", Request(2, 2009, unknown), {Failure("2", "2106", " Unable to open Service")},
        1);
  check("start type of an unknown service", Request(2, 2008, R"({"cmd":"hk-no-such-service","type":3})"),
        {Failure("2", "2608", "Unable to Change Service Type")}, 1);
}

TEST_F(Dispatch, ANonAsciiServiceIsDrivenByItsName) {
  hk::test::RegisteredService service(L"", L"-Dienst-\u00dc");
  ASSERT_TRUE(service.created());
  ASSERT_TRUE(service.start_directly());
  const std::string name = R"({"cmd":")" + hk::ToUtf8(service.name()) + "\"";
  EXPECT_EQ(serve(Request(2, 2007, name + "}")), Texts{Success("2", "2307", "service stopped ")});
  EXPECT_EQ(service.state(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(serve(Request(2, 2006, name + "}")), Texts{Success("2", "2306", "service started")});
  EXPECT_TRUE(service.wait_for(SERVICE_RUNNING));
  const DWORD before = service.status().dwProcessId;
  EXPECT_EQ(serve(Request(2, 2009, name + "}")), Texts{Success("2", "2309", "service Restart ")});
  EXPECT_TRUE(service.wait_for(SERVICE_RUNNING));
  EXPECT_NE(service.status().dwProcessId, before) << "a new process";
  EXPECT_EQ(serve(Request(2, 2008, name + R"(,"type":4})")), Texts{Success("2", "2308", "service type changed ")});
  EXPECT_EQ(service.config().first, static_cast<DWORD>(SERVICE_DISABLED));
}

TEST_F(Dispatch, TerminatesAChildProcessByItsId) {
  const auto child = hk::test::ChildProcess::Start(hk::test::SleeperPath(), L"");
  ASSERT_TRUE(child);
  const Texts sent = serve(Request(1, 1005, R"({"cmd":")" + std::to_string(child->pid()) + "\"}"));
  EXPECT_EQ(::WaitForSingleObject(child->handle(), 5000), WAIT_OBJECT_0);
  DWORD code = STILL_ACTIVE;
  EXPECT_TRUE(::GetExitCodeProcess(child->handle(), &code) && code == 0) << code;
  EXPECT_EQ(sent, Texts{Success("1", "1305", "Process terminated successfully")});
}

TEST_F(Dispatch, JsonRequestHandlerResults) {
  g_running = 1;
  EXPECT_EQ(Chostkeeper::jsonRequestHandler(""), 0);
  EXPECT_EQ(Chostkeeper::jsonRequestHandler("{"), 0);
  EXPECT_EQ(Chostkeeper::jsonRequestHandler(Request(7, 7950)), 1);
  EXPECT_EQ(Chostkeeper::jsonRequestHandler(Request(13, 13100)), 1) << "accepted, and nothing runs";
  // Tool 1 is served there too, and nothing more is sent afterwards.
  EXPECT_EQ(Chostkeeper::jsonRequestHandler(Request(1, 1105)), 1);
  EXPECT_EQ(session_.texts(), (Texts{"", "", Success("1", "1104", "Agent Terminated")}));
  EXPECT_EQ(g_running.load(), 0);

  std::string text = "stale";
  EXPECT_EQ(Chostkeeper::format(0x2badbeef, text), 1);
  EXPECT_EQ(text, "") << "a code the system has no message for";
}
