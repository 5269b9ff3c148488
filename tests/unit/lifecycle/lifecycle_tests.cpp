// The connection attempt, the keep-alive loop and the status report, with
// recording sockets and a scripted HTTP client.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/Chostkeeper.h"
#include "core/HttpUtils.h"
#include "core/Server.h"
#include "core/globals.h"
#include "core/status_report.h"
#include "host/host_args.h"
#include "support/recording_socket.h"
#include "support/wire_texts.h"

using hk::test::RecordingSocket;
using hk::test::ScopedRecordingFactory;

namespace {

const std::string kExit3105 = hk::test::Request(3, 3105);

class Lifecycle : public ::testing::Test {
 protected:
  void TearDown() override {
    hk::test::detail::duringConnect = nullptr;
    g_wsHandler = AsyncWsHandler();
    g_running = 0;
  }
  // One attempt as the agent's thread makes it; the flags as a failed
  // attempt would find them.
  bool Attempt(int port = 80, ConnectionVariable cv = {}, bool secure = false) {
    g_running = 0;
    g_reconnect = 1;
    return Server::AttemptWsConnection("server.test", "tools/HK_NATIVE?clientId=1", port, cv, secure);
  }
  static std::pair<int, int> Flags() { return {g_running.load(), g_reconnect.load()}; }
};

}  // namespace

TEST_F(Lifecycle, DirectFirstThenTheProxyOfTheConnectionVariables) {
  ConnectionVariable cv;
  cv.proxyHost = L"proxy.test";
  cv.proxyPort = 3128;
  cv.proxyUser = L"alice";
  cv.proxyPassword = L"s3cret";
  {
    ScopedRecordingFactory factory(true);
    ASSERT_TRUE(Attempt(8080, cv));
    EXPECT_EQ(Flags(), std::pair(1, 0));
    EXPECT_EQ(RecordingSocket::Newest()->describe(), "server.test:8080 plain tools/HK_NATIVE?clientId=1 connects 1");
  }
  ScopedRecordingFactory failing(false);
  EXPECT_FALSE(Attempt(443, cv));
  EXPECT_EQ(Flags(), std::pair(0, 1)) << "a failed attempt leaves the flags alone";
  const auto socket = RecordingSocket::Newest();
  EXPECT_EQ(socket->describe(),
            "server.test:443 tls tools/HK_NATIVE?clientId=1 connects 2 via proxy.test:3128 as alice/s3cret");
  // Each attempt replaces the handler: the previous socket is released.
  EXPECT_FALSE(Attempt(8443, ConnectionVariable(), true));
  EXPECT_EQ(RecordingSocket::LiveCount(), 2u);  // `socket` above still holds one
  EXPECT_EQ(RecordingSocket::Newest()->describe(),
            "server.test:8443 tls tools/HK_NATIVE?clientId=1 connects 2 via :0 as /");
}

// The server acts the instant it accepts, on the socket's thread, before the
// attempt has returned on the agent's: what it caused must stand.
TEST_F(Lifecycle, WhatTheServerDoesDuringTheHandshakeStands) {
  const struct {
    const char* name;
    std::function<void(RecordingSocket&)> server;
    int running, reconnect;
    size_t answers;
  } cases[] = {
      {"closes at once", [](RecordingSocket& s) { s.DeliverClose(1006); }, 1, 1, 0},
      {"asks the agent to exit at once", [](RecordingSocket& s) { s.DeliverText(kExit3105); }, 0, 0, 1},
  };
  for (const auto& c : cases) {
    ScopedRecordingFactory factory(true);
    hk::test::detail::duringConnect = c.server;
    EXPECT_TRUE(Attempt()) << c.name;
    EXPECT_EQ(Flags(), std::pair(c.running, c.reconnect)) << c.name;
    EXPECT_EQ(RecordingSocket::Newest()->texts().size(), c.answers) << c.name;
  }
}

TEST_F(Lifecycle, RequestsAfterTheAgentWasToldToExitAreDropped) {
  ScopedRecordingFactory factory(true);
  ASSERT_TRUE(Attempt());
  const auto socket = RecordingSocket::Newest();
  socket->DeliverText(hk::test::Request(2, 2105));
  ASSERT_EQ(g_running.load(), 0);
  socket->DeliverText(hk::test::Request(2, 2007, R"({"cmd":"x"})"));
  EXPECT_EQ(socket->texts().size(), 1u) << "only the exit was answered";

  // The next connection serves again.
  ASSERT_TRUE(Attempt());
  RecordingSocket::Newest()->DeliverText(kExit3105);
  EXPECT_EQ(RecordingSocket::Newest()->texts().size(), 1u);
}

TEST_F(Lifecycle, WaitReconnectsOnceAfterACloseAndStopsWhenThatFails) {
  ScopedRecordingFactory factory(true);
  ASSERT_TRUE(Attempt());
  const auto first = RecordingSocket::Newest();
  std::thread server([first] {
    ::Sleep(300);
    first->DeliverClose(1006);  // OnClose sets g_reconnect
    ::Sleep(1500);
    hk::test::detail::defaultConnectResult = false;
    RecordingSocket::Newest()->DeliverClose(1006);
  });
  Chostkeeper::wait("h", "p", 80, ConnectionVariable(), false, true);
  server.join();
  EXPECT_EQ(g_running.load(), 0);
  EXPECT_EQ(first->describe(), "server.test:80 plain tools/HK_NATIVE?clientId=1 connects 1")
      << "the first reconnection made a new socket";
}

TEST(StatusReport, DocumentsByteExact) {
  Chostkeeper keeper;
  keeper.resourceId = "member-res";
  keeper.customerId = "member-cus";
  keeper.sessionId = "member-ses";
  EXPECT_EQ(Json::FastWriter().write(hk::StartStatus(keeper, true)),
            R"({"customerId":"member-cus","resourceId":"member-res","sessionId":"member-ses",)"
            R"("status":1,"statusMessage":"hostkpr .exe Successfully Initiated","toolId":1})"
            "\n");
  EXPECT_EQ(hk::StartStatus(keeper, false)["statusMessage"], "error");
  EXPECT_EQ(hk::StartStatus(keeper, false)["status"], 0);
  EXPECT_EQ(Json::FastWriter().write(hk::GatewayNotification("dev-1", "sess-2", "cli-3")),
            R"({"action":{"client_id":"cli-3","code":2106,"is_success":true,"msg":"sucess",)"
            R"("notification_type":"2","session_id":"sess-2"},"action_type":"toolNotification","device_id":"dev-1"})"
            "\n");
}

TEST(StatusReport, SendHttpRequestTriesUpToFiveTimes) {
  // Fails the first `failures` requests; records the connection and requests.
  struct Scripted : HttpHandler::HttpClient {
    explicit Scripted(int failures) : failures(failures) {}
    int GetLastErrorCode() override { return 12029; }
    std::string& GetLastErrorText(std::string& out) override { return out = "cannot connect"; }
    void SetConnection(std::string host, int port, bool secure, std::string proxyHost, int proxyPort, std::string,
                       std::string, int, int) override {
      connection = host + ":" + std::to_string(port) + (secure ? " tls" : " plain") +
                   (proxyHost.empty() && proxyPort == 0 ? "" : " proxy");
    }
    void SetUseProxy(bool use) override { usedProxy |= use; }
    void BeginRequest() override {}
    bool SendRequest(std::string path, std::string body, bool post, std::string type) override {
      requests.push_back(path + " " + type + " " + (post ? "POST " : "GET ") + body);
      return static_cast<int>(requests.size()) > failures;
    }
    void GetResponse(std::string& out) override { out = "{}"; }
    int failures;
    std::string connection;
    std::vector<std::string> requests;
    bool usedProxy = false;
  };
  const struct {
    int failures, port;
    size_t requests;
    const char* connection;
  } cases[] = {{100, 8080, 5, "server.test:8080 plain"}, {2, 443, 3, "server.test:443 tls"}};
  for (const auto& c : cases) {
    auto scripted = std::make_shared<Scripted>(c.failures);
    std::shared_ptr<HttpHandler::HttpClient> client = scripted;
    int port = c.port;
    std::string path = "toolsstatus";
    Chostkeeper().sendHttpRequest(client, L"server.test", port, path, "{\"status\":1}\n", ConnectionVariable());
    EXPECT_EQ(scripted->requests.size(), c.requests) << c.failures;
    EXPECT_EQ(scripted->connection, c.connection) << c.failures;
    EXPECT_EQ(scripted->requests[0], "toolsstatus application/json POST {\"status\":1}\n");
    EXPECT_FALSE(scripted->usedProxy);
  }
}

TEST(StatusReport, FactoryAnswersByInterfaceIdentifier) {
  using HttpUtils::HttpConnectionFactory;
  EXPECT_EQ(HttpConnectionFactory::Instance(), HttpConnectionFactory::Instance());
  std::shared_ptr<void> out, again, client;
  EXPECT_EQ(HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpUtil, &out), S_OK);
  HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpUtil, &again);
  EXPECT_TRUE(out && out == again) << "one process-wide utility object";
  EXPECT_EQ(HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpClient, &client), S_OK);
  EXPECT_TRUE(client && client != out);
  EXPECT_EQ(HttpConnectionFactory::QueryInterface(GUID{1, 2, 3, {0, 0, 0, 0, 0, 0, 0, 4}}, &out), E_NOINTERFACE);
  EXPECT_FALSE(out);
  EXPECT_EQ(HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpUtil, nullptr), E_INVALIDARG);
}

// The agent suite starts the host with every option; here what it refuses.
TEST(HostArgs, RefusesWhatIsNoContract) {
  EXPECT_TRUE(hk::host::ParseHostArgs({"--help"}).help);
  const std::vector<std::vector<std::string>> bad = {{},
                                                     {"--host", "h"},
                                                     {"--host", "h", "--port", "80x"},
                                                     {"--host", "h", "--port", "80", "--bogus"},
                                                     {"--host", "h", "--port", "80", "--client-id"},
                                                     {"--host", "h", "--port", "80", "--proxy-host", "p"},
                                                     {"--host", "h", "--port", "80", "--proxy-user", "u"}};
  for (size_t i = 0; i < bad.size(); ++i) {
    const auto r = hk::host::ParseHostArgs(bad[i]);
    EXPECT_TRUE(!r.args && !r.error.empty()) << "row " << i;
  }
}
