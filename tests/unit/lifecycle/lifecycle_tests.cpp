// The connection attempt, the keep-alive loop and the status report, with
// recording sockets and a scripted HTTP client.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <functional>
#include <thread>
#include <vector>

#include "core/Chostkeeper.h"
#include "core/HttpUtils.h"
#include "core/Server.h"
#include "core/globals.h"
#include "core/messages.h"
#include "core/status_report.h"
#include "host/host_args.h"
#include "support/recording_socket.h"

using hk::test::RecordingSocket;
using hk::test::ScopedRecordingFactory;

namespace {

ConnectionVariable proxy_settings() {
  ConnectionVariable cv;
  cv.proxyHost = L"proxy.test";
  cv.proxyPort = 3128;
  cv.proxyUser = L"alice";
  cv.proxyPassword = L"s3cret";
  return cv;
}

class ScriptedHttpClient : public HttpHandler::HttpClient {
 public:
  explicit ScriptedHttpClient(int failures) : failures_(failures) {}
  int GetLastErrorCode() override { return 12029; }
  std::string& GetLastErrorText(std::string& out) override { return out = "cannot connect"; }
  void SetConnection(std::string host, int port, bool secure, std::string proxyHost, int proxyPort, std::string,
                     std::string, int, int) override {
    connections.push_back(host + ":" + std::to_string(port) + (secure ? " tls" : " plain") +
                          (proxyHost.empty() && proxyPort == 0 ? "" : " proxy"));
  }
  void SetUseProxy(bool use) override { usedProxy |= use; }
  void BeginRequest() override { ++begun; }
  bool SendRequest(std::string path, std::string body, bool post, std::string contentType) override {
    requests.push_back(path + " " + contentType + " " + (post ? "POST " : "GET ") + body);
    return static_cast<int>(requests.size()) > failures_;
  }
  void GetResponse(std::string& out) override { out = "{}"; }

  std::vector<std::string> connections, requests;
  int begun = 0;
  bool usedProxy = false;

 private:
  int failures_;
};

}  // namespace

TEST(AttemptWsConnection, DirectSuccessSetsTheFlags) {
  ScopedRecordingFactory factory(true);
  g_running = 0;
  g_reconnect = 1;
  ASSERT_TRUE(Server::AttemptWsConnection("server.test", "tools/HK_NATIVE?clientId=1", 8080, proxy_settings(), false));
  EXPECT_EQ(g_running.load(), 1);
  EXPECT_EQ(g_reconnect.load(), 0);
  const auto socket = RecordingSocket::Newest();
  ASSERT_TRUE(socket);
  EXPECT_EQ(socket->request().host, "server.test");
  EXPECT_EQ(socket->request().port, 8080);
  EXPECT_FALSE(socket->request().secure);
  EXPECT_EQ(socket->request().path, "tools/HK_NATIVE?clientId=1");
  EXPECT_EQ(socket->connect_calls(), 1);
  EXPECT_EQ(socket->proxy_calls(), 0);
  g_wsHandler = AsyncWsHandler();
  g_running = 0;
}

TEST(AttemptWsConnection, FallsBackToTheProxyOfTheConnectionVariables) {
  ScopedRecordingFactory factory(false);
  g_running = 0;
  g_reconnect = 1;
  EXPECT_FALSE(Server::AttemptWsConnection("server.test", "p", 443, proxy_settings(), false));
  EXPECT_EQ(g_running.load(), 0) << "a failed attempt leaves the flags alone";
  EXPECT_EQ(g_reconnect.load(), 1);
  const auto socket = RecordingSocket::Newest();
  ASSERT_TRUE(socket);
  EXPECT_TRUE(socket->request().secure) << "port 443 means TLS";
  EXPECT_EQ(socket->connect_calls(), 2);
  EXPECT_EQ(socket->proxy().host, "proxy.test");
  EXPECT_EQ(socket->proxy().port, 3128);
  EXPECT_EQ(socket->proxy().user, "alice");
  EXPECT_EQ(socket->proxy().password, "s3cret");

  // Each attempt replaces the handler: the previous socket is released.
  EXPECT_FALSE(Server::AttemptWsConnection("server.test", "p", 8443, ConnectionVariable(), true));
  EXPECT_EQ(RecordingSocket::LiveCount(), 2u);  // `socket` above still holds one
  EXPECT_TRUE(RecordingSocket::Newest()->request().secure);
  g_wsHandler = AsyncWsHandler();
}

// The server acts the instant it accepts, on the socket's thread, before the
// attempt has returned on the agent's: what it caused must stand.
TEST(AttemptWsConnection, WhatTheServerDoesDuringTheHandshakeStands) {
  struct Case {
    const char* name;
    std::function<void(RecordingSocket&)> server;
    int running, reconnect;
    size_t answers;
  };
  const std::string exit1105 = R"({"toolId":1,"requestId":1,"requestMessage":{"requestCode":1105}})";
  const Case cases[] = {
      {"closes at once", [](RecordingSocket& s) { s.DeliverClose(1006); }, 1, 1, 0},
      {"asks the agent to exit at once", [&](RecordingSocket& s) { s.DeliverText(exit1105); }, 0, 0, 1},
  };
  for (const Case& c : cases) {
    ScopedRecordingFactory factory(true);
    hk::test::detail::during_connect() = c.server;
    g_running = 0;
    g_reconnect = 1;
    EXPECT_TRUE(Server::AttemptWsConnection("h", "p", 80, ConnectionVariable(), false)) << c.name;
    hk::test::detail::during_connect() = nullptr;
    EXPECT_EQ(g_running.load(), c.running) << c.name;
    EXPECT_EQ(g_reconnect.load(), c.reconnect) << c.name;
    EXPECT_EQ(RecordingSocket::Newest()->texts().size(), c.answers) << c.name;
  }
  g_wsHandler = AsyncWsHandler();
  g_running = 0;
}

TEST(Serving, RequestsAfterTheAgentWasToldToExitAreDropped) {
  ScopedRecordingFactory factory(true);
  ASSERT_TRUE(Server::AttemptWsConnection("h", "p", 80, ConnectionVariable(), false));
  const auto socket = RecordingSocket::Newest();
  socket->DeliverText(R"({"toolId":2,"requestId":1,"requestMessage":{"requestCode":2105}})");
  ASSERT_EQ(g_running.load(), 0);

  wchar_t command[] = L"cmd.exe /c ping -n 30 127.0.0.1";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                               &pi));
  socket->DeliverText(R"({"toolId":1,"requestId":2,"requestMessage":{"requestCode":1005,"requestData":{"cmd":")" +
                      std::to_string(pi.dwProcessId) + "\"}}}");
  EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 1000), static_cast<DWORD>(WAIT_TIMEOUT)) << "the process was ended";
  EXPECT_EQ(socket->texts().size(), 1u) << "only the exit was answered";
  ::TerminateProcess(pi.hProcess, 0);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);

  // The next connection serves again.
  ASSERT_TRUE(Server::AttemptWsConnection("h", "p", 80, ConnectionVariable(), false));
  RecordingSocket::Newest()->DeliverText(R"({"toolId":3,"requestId":3,"requestMessage":{"requestCode":3105}})");
  EXPECT_EQ(RecordingSocket::Newest()->texts().size(), 1u);
  g_wsHandler = AsyncWsHandler();
  g_running = 0;
}

TEST(StatusReport, StartStatusCarriesTheMembers) {
  Chostkeeper keeper;
  keeper.resourceId = "member-res";
  keeper.customerId = "member-cus";
  keeper.sessionId = "member-ses";
  char* text = nullptr;
  ASSERT_EQ(ChangeJsonToString(hk::StartStatus(keeper, true), &text), 0);
  EXPECT_STREQ(text, R"({"customerId":"member-cus","resourceId":"member-res","sessionId":"member-ses",)"
                     R"("status":1,"statusMessage":"hostkpr .exe Successfully Initiated","toolId":1})"
                     "\n");
  hk::FreeText(text);
  EXPECT_EQ(hk::StartStatus(keeper, false)["statusMessage"], "error");
  EXPECT_EQ(hk::StartStatus(keeper, false)["status"], 0);
}

TEST(Wait, ReturnsAtOnceWhenNotRunningAndStopsWhenTheFlagDrops) {
  g_running = 0;
  const DWORD start = ::GetTickCount();
  Chostkeeper::wait("h", "p", 1, ConnectionVariable(), false, false);
  EXPECT_LT(::GetTickCount() - start, 500u);

  ScopedRecordingFactory factory(true);
  ASSERT_TRUE(Server::AttemptWsConnection("h", "p", 80, ConnectionVariable(), false));
  std::thread stopper([] {
    ::Sleep(1500);
    g_running = 0;
  });
  Chostkeeper::wait("h", "p", 80, ConnectionVariable(), false, true);
  stopper.join();
  EXPECT_TRUE(RecordingSocket::Newest()->texts().empty()) << "no keep-alive towards the product server";
  g_wsHandler = AsyncWsHandler();
}

TEST(Wait, ReconnectsOnceAfterACloseAndStopsWhenThatFails) {
  ScopedRecordingFactory factory(true);
  ASSERT_TRUE(Server::AttemptWsConnection("h", "p", 80, ConnectionVariable(), false));
  const auto first = RecordingSocket::Newest();
  std::thread server([first] {
    ::Sleep(300);
    first->DeliverClose(1006);  // OnClose sets g_reconnect
    ::Sleep(1500);
    hk::test::detail::default_connect_result() = false;
    RecordingSocket::Newest()->DeliverClose(1006);
  });
  Chostkeeper::wait("h", "p", 80, ConnectionVariable(), false, true);
  server.join();
  EXPECT_EQ(g_running.load(), 0);
  // The first reconnection succeeded (a new socket), the second failed.
  EXPECT_EQ(first->connect_calls(), 1);
  g_wsHandler = AsyncWsHandler();
}

TEST(StatusReport, SendHttpRequestGivesUpAfterFiveAttempts) {
  auto scripted = std::make_shared<ScriptedHttpClient>(100);
  std::shared_ptr<HttpHandler::HttpClient> client = scripted;
  Chostkeeper keeper;
  int port = 8080;
  std::string path = "toolsstatus";
  keeper.sendHttpRequest(client, L"server.test", port, path, "{\"status\":1}\n", ConnectionVariable());
  EXPECT_EQ(scripted->requests.size(), 5u);
  EXPECT_EQ(scripted->begun, 5);
  EXPECT_FALSE(scripted->usedProxy);
  EXPECT_EQ(scripted->connections[0], "server.test:8080 plain");
  EXPECT_EQ(scripted->requests[0], "toolsstatus application/json POST {\"status\":1}\n");
}

TEST(StatusReport, SendHttpRequestStopsAtTheFirstSuccessAndPort443IsTls) {
  auto scripted = std::make_shared<ScriptedHttpClient>(2);
  std::shared_ptr<HttpHandler::HttpClient> client = scripted;
  Chostkeeper keeper;
  int port = 443;
  std::string path = "/api/v1/unattended_computer/action";
  keeper.sendHttpRequest(client, L"gw.test", port, path, "{}", ConnectionVariable());
  EXPECT_EQ(scripted->requests.size(), 3u);
  EXPECT_EQ(scripted->connections.back(), "gw.test:443 tls");
}

TEST(StatusReport, GatewayNotificationIsByteExact) {
  char* text = nullptr;
  ASSERT_EQ(ChangeJsonToString(hk::GatewayNotification("dev-1", "sess-2", "cli-3"), &text), 0);
  EXPECT_STREQ(text,
               R"({"action":{"client_id":"cli-3","code":2106,"is_success":true,"msg":"sucess",)"
               R"("notification_type":"2","session_id":"sess-2"},"action_type":"toolNotification","device_id":"dev-1"})"
               "\n");
  hk::FreeText(text);
}

TEST(StatusReport, FactoryAnswersByInterfaceIdentifier) {
  using HttpUtils::HttpConnectionFactory;
  EXPECT_EQ(HttpConnectionFactory::Instance(), HttpConnectionFactory::Instance());
  std::shared_ptr<void> out;
  EXPECT_EQ(HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpUtil, &out), S_OK);
  std::shared_ptr<void> again;
  HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpUtil, &again);
  EXPECT_TRUE(out && out == again) << "one process-wide utility object";
  EXPECT_EQ(HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpClient, &out), S_OK);
  EXPECT_TRUE(out);
  const GUID other = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 4}};
  EXPECT_EQ(HttpConnectionFactory::QueryInterface(other, &out), E_NOINTERFACE);
  EXPECT_FALSE(out);
  EXPECT_EQ(HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpUtil, nullptr), E_INVALIDARG);
}

TEST(HostArgs, ParsesTheContract) {
  using hk::host::ParseHostArgs;
  const auto ok = ParseHostArgs({"--host", "127.0.0.1", "--port", "8080", "--secure", "--product-server",
                                 "--client-id", "c", "--proxy-host", "p", "--proxy-port", "3128", "--proxy-user",
                                 "u", "--proxy-password", "pw"});
  ASSERT_TRUE(ok.args) << ok.error;
  EXPECT_EQ(ok.args->port, 8080);
  EXPECT_TRUE(ok.args->secure);
  EXPECT_TRUE(ok.args->productServer);
  EXPECT_EQ(ok.args->clientId, "c");
  EXPECT_EQ(ok.args->proxyPort, 3128);
  EXPECT_EQ(ok.args->proxyPassword, "pw");

  EXPECT_TRUE(ParseHostArgs({"--help"}).help);
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--host", "h"},
      {"--host", "h", "--port", "80x"},
      {"--host", "h", "--port", "0"},
      {"--host", "h", "--port", "70000"},
      {"--host", "h", "--port", "80", "--bogus"},
      {"--host", "h", "--port", "80", "--client-id"},
      {"--host", "h", "--port", "80", "--proxy-host", "p"},
      {"--host", "h", "--port", "80", "--proxy-user", "u"},
  };
  for (const auto& args : bad) {
    const auto r = ParseHostArgs(args);
    EXPECT_FALSE(r.args);
    EXPECT_FALSE(r.error.empty());
  }
}
