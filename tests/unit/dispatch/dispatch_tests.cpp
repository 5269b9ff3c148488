// Requests delivered as the socket delivers them, answers seen on the socket.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/reader.h>

#include <string>
#include <vector>

#include "core/Chostkeeper.h"
#include "core/Server.h"
#include "core/globals.h"
#include "core/text.h"
#include "services/registered_service.h"
#include "support/recording_socket.h"

namespace {

Json::Value parse(const std::string& text) {
  Json::Value v;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &v, &errors)) << text;
  return v;
}

std::string request(int tool, int code, const std::string& data = "{}", const std::string& extra = "") {
  return R"({"toolId":)" + std::to_string(tool) + R"(,"requestId":7,"requestMessage":{"requestCode":)" +
         std::to_string(code) + R"(,"requestData":)" + data + "}" + extra + "}";
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override { serve_again(); }
  void TearDown() override { g_running = 0; }
  // As a new connection would: after an exit the library serves nothing.
  static void serve_again() {
    g_running = 1;
    g_stopped = 0;
  }
  // Delivered through the handler's text callback, as a received frame is.
  std::vector<std::string> serve(const std::string& text) {
    session_.clear();
    session_.socket().DeliverText(text);
    return session_.texts();
  }
  hk::test::RecordingWsSession session_;
};

struct Case {
  const char* name;
  std::string text;
  std::vector<std::string> answers;  // exact texts sent, in order
  int runningAfter;
};

std::string legacy_success(const char* tool, const char* code, const char* data) {
  return std::string(R"({"isSuccess":"true","messageVersion":"1","responseId":")") + tool +
         R"(","responseMessage":{"isPagedResponse":"False","responseCode":")" + code +
         R"(","responseData":{"data":")" + data + R"("}},"toolId":")" + tool + "\"}\n";
}

}  // namespace

TEST_F(Dispatch, RoutesByToolAndCode) {
  const std::vector<Case> cases = {
      {"tool 0 stops without answer", R"({"toolId":0,"requestId":1,"requestMessage":{"requestCode":0}})", {}, 0},
      {"missing toolId reads as 0", R"({"requestId":1,"requestMessage":{"requestCode":5}})", {}, 0},
      {"1105 answers then stops", request(1, 1105), {legacy_success("1", "1104", "Agent Terminated")}, 0},
      {"2105 answers then stops", request(2, 2105), {legacy_success("2", "2104", "Agent Terminated")}, 0},
      {"3105 answers then stops", request(3, 3105), {legacy_success("3", "3104", "Agent Terminated")}, 0},
      {"tool 4 is invalid", request(4, 4100), {}, 0},
      {"tool 11 is invalid", request(11, 11100), {}, 0},
      {"tool 14 is invalid", request(14, 14100), {}, 0},
      {"not JSON is invalid", "hello", {}, 0},
      {"failed validation is invalid", request(1, 1300), {}, 0},
      {"negative request id is invalid", R"({"toolId":1,"requestId":-1,"requestMessage":{"requestCode":1101}})",
       {}, 0},
      {"2999 is ignored", request(2, 2999), {}, 1},
      {"unserved tool 1 code is ignored", request(1, 1000), {}, 1},
      {"7950 is outside the dispatch range", request(7, 7950), {""}, 1},
      {"tool 5 goes to the formatter handler", request(5, 5100), {""}, 1},
      {"tool 13 is not routed", request(13, 13100), {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    serve_again();
    EXPECT_EQ(serve(c.text), c.answers);
    EXPECT_EQ(g_running.load(), c.runningAfter);
  }
}

TEST_F(Dispatch, WebClientIdGoesIntoTheEnvelopeAsSent) {
  for (const std::string id : {"browser-9", "Zo\xC3\xAB-\xE4\xB8\xAD"}) {
    serve_again();
    const auto sent = serve(request(1, 1105, "{}", R"(,"webClientId":")" + id + "\""));
    ASSERT_EQ(sent.size(), 1u);
    const Json::Value answer = parse(sent[0]);
    EXPECT_EQ(answer["webClientId"].asString(), id);
    EXPECT_EQ(answer["responseId"].asString(), "1");
  }
}

TEST_F(Dispatch, ANonAsciiServiceIsStoppedAndStartedByItsName) {
  hk::test::RegisteredService service(L"", L"-Dienst-\u00dc");
  ASSERT_TRUE(service.created());
  ASSERT_TRUE(service.start_directly());
  const std::string name = R"({"cmd":")" + hk::ToUtf8(service.name()) + "\"}";
  EXPECT_EQ(serve(request(2, 2007, name)), std::vector<std::string>{legacy_success("2", "2307", "service stopped ")});
  EXPECT_EQ(service.state(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(serve(request(2, 2006, name)), std::vector<std::string>{legacy_success("2", "2306", "service started")});
  EXPECT_TRUE(service.wait_for(SERVICE_RUNNING));
}

TEST_F(Dispatch, TerminatingAProcessThatCannotBeOpenedAnswersTheSystemMessage) {
  // "abc" has no leading digits: process 0, which cannot be opened.
  ::SetLastError(0);
  ::OpenProcess(PROCESS_TERMINATE, FALSE, 0);
  std::string expected;
  Chostkeeper::format(::GetLastError(), expected);
  ASSERT_FALSE(expected.empty());

  const auto sent = serve(request(1, 1005, R"({"cmd":"abc"})"));
  ASSERT_EQ(sent.size(), 1u);
  const Json::Value answer = parse(sent[0]);
  EXPECT_EQ(answer["messageVersion"].asString(), "1.0");
  EXPECT_EQ(answer["isSuccess"].asString(), "false");
  EXPECT_EQ(answer["responseMessage"]["errorCode"].asString(), "1605");
  EXPECT_EQ(answer["responseMessage"]["errorOutput"].asString(), expected);
  EXPECT_EQ(g_running.load(), 1);
}

TEST_F(Dispatch, TerminatesAChildProcessByItsId) {
  wchar_t command[] = L"cmd.exe /c ping -n 60 127.0.0.1";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                               &pi));
  ::CloseHandle(pi.hThread);
  const auto sent = serve(request(1, 1005, R"({"cmd":")" + std::to_string(pi.dwProcessId) + "\"}"));
  EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 5000), WAIT_OBJECT_0);
  ::CloseHandle(pi.hProcess);
  EXPECT_EQ(sent, std::vector<std::string>{legacy_success("1", "1305", "Process terminated successfully")});
}

TEST_F(Dispatch, ProcessListingAnswersWithTheProcessArray) {
  const auto sent = serve(request(1, 1101, "{}", R"(,"webClientId":"w1")"));
  ASSERT_EQ(sent.size(), 1u);
  const Json::Value answer = parse(sent[0]);
  EXPECT_EQ(answer["responseMessage"]["responseCode"].asString(), "1301");
  EXPECT_EQ(answer["webClientId"].asString(), "w1");
  const Json::Value& data = answer["responseMessage"]["responseData"]["data"];
  ASSERT_TRUE(data.isArray());
  bool foundSelf = false;
  for (const Json::Value& p : data) foundSelf |= p["pid"].asString() == std::to_string(::GetCurrentProcessId());
  EXPECT_TRUE(foundSelf);
}

TEST_F(Dispatch, ServiceRequestsForAnUnknownServiceAnswer2106) {
  const struct {
    int code;
    const char* text;
  } cases[] = {{2006, "Error while opening Service"},
               {2007, "Unable to open Service"},
               {2009, " Unable to open Service"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const auto sent = serve(request(2, c.code, R"({"cmd":"hk-no-such-service"})"));
    ASSERT_EQ(sent.size(), 1u);
    const Json::Value answer = parse(sent[0]);
    EXPECT_EQ(answer["responseMessage"]["errorCode"].asString(), "2106");
    EXPECT_EQ(answer["responseMessage"]["errorOutput"].asString(), c.text);
  }
  const auto changed = serve(request(2, 2008, R"({"cmd":"hk-no-such-service","type":3})"));
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(parse(changed[0])["responseMessage"]["errorCode"].asString(), "2608");
}

TEST_F(Dispatch, ParseCmdJsonExtractsTheCommandTexts) {
  std::wstring commands[4] = {L"x", L"x", L"x", L"x"};
  Server::parsecmdJson(request(2, 2008, R"({"cmd":"Spooler","type":4})"), commands);
  EXPECT_EQ(commands[0], L"2");
  EXPECT_EQ(commands[1], L"2008");
  EXPECT_EQ(commands[2], L"Spooler");
  EXPECT_EQ(commands[3], L"4");

  std::wstring failed[4] = {L"x", L"x", L"x", L"kept"};
  Server::parsecmdJson("not json", failed);
  EXPECT_EQ(failed[0], L"");
  EXPECT_EQ(failed[1], L"");
  EXPECT_EQ(failed[2], L"");
  EXPECT_EQ(failed[3], L"kept");
}

TEST_F(Dispatch, JsonRequestHandlerResults) {
  EXPECT_EQ(Chostkeeper::jsonRequestHandler(""), 0);
  EXPECT_EQ(Chostkeeper::jsonRequestHandler("{"), 0);
  session_.clear();
  EXPECT_EQ(Chostkeeper::jsonRequestHandler(request(7, 7950)), 1);
  EXPECT_EQ(session_.texts(), std::vector<std::string>{""});
  session_.clear();
  EXPECT_EQ(Chostkeeper::jsonRequestHandler(request(13, 13100)), 1);
  EXPECT_EQ(session_.texts(), std::vector<std::string>{""}) << "accepted, and nothing runs";
  session_.clear();
  // Tool 1 is served there too, and nothing more is sent afterwards.
  EXPECT_EQ(Chostkeeper::jsonRequestHandler(request(1, 1105)), 1);
  EXPECT_EQ(session_.texts(), std::vector<std::string>{legacy_success("1", "1104", "Agent Terminated")});
  EXPECT_EQ(g_running.load(), 0);
}

TEST(ChostkeeperFormat, GivesTheSystemMessageOrNothing) {
  std::string text = "stale";
  EXPECT_EQ(Chostkeeper::format(ERROR_ACCESS_DENIED, text), 1);
  EXPECT_NE(text.find("ccess"), std::string::npos) << text;
  EXPECT_EQ(Chostkeeper::format(0x2badbeef, text), 1);
  EXPECT_EQ(text, "");
}
