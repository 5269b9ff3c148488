// The agent's thread: connect with retries, report, then keep the session
// alive until the run flag drops.
#include <windows.h>

#include <string>

#include "core/Chostkeeper.h"
#include "core/Server.h"
#include "core/globals.h"
#include "core/messages.h"
#include "core/status_report.h"
#include "core/text.h"
#include "infra/log.h"
#include "tools/processes/local_process.h"

namespace {

constexpr DWORD kPauseMs = 1000;
constexpr int kConnectRetries = 10;
constexpr int kKeepAlivePauses = 10;  // "-" goes out when the counter exceeds this

std::string resource_path(bool productServer, const std::string& clientId, const std::string& clientName,
                          const std::string& resourceId, const std::string& sessionId,
                          const std::string& customerId) {
  // Inserted as they are: the server expects the identifiers unescaped.
  return std::string(productServer ? "mfWebSocket/HK_NATIVE" : "tools/HK_NATIVE") + "?clientId=" + clientId +
         "&clientName=" + clientName + "&resourceId=" + resourceId + "&sessionId=" + sessionId +
         "&customerId=" + customerId;
}

}  // namespace

Chostkeeper::Chostkeeper() : productServer(false), reserved(0) {}
Chostkeeper::Chostkeeper(const Chostkeeper& other) = default;
Chostkeeper& Chostkeeper::operator=(const Chostkeeper& other) = default;
Chostkeeper::~Chostkeeper() = default;

bool Server::AttemptWsConnection(std::string host, std::string path, int port, ConnectionVariable cv,
                                 bool secure) {
  WriteLog(L"Attempting to connect to Server || Server::AttemptWsConnection || ");
  // The flags are set for success before the attempt: the socket's threads
  // can deliver a close or an exit request the moment the upgrade completes,
  // before ConnectDirectly has even returned here, and what they set must
  // stand. A failed attempt puts the flags back as they were.
  const int32_t runningBefore = g_running.exchange(1);
  const int32_t reconnectBefore = g_reconnect.exchange(0);
  const int32_t stoppedBefore = g_stopped.exchange(0);
  const bool useTls = port == 443 || secure;
  g_wsHandler = AsyncWsHandler(host, useTls, port, path, 0);

  const std::string proxyHost = cv.proxyHost.empty() ? std::string() : hk::Narrow(cv.proxyHost);
  const std::string proxyUser = cv.proxyUser.empty() ? std::string() : hk::Narrow(cv.proxyUser);
  const std::string proxyPassword = cv.proxyPassword.empty() ? std::string() : hk::Narrow(cv.proxyPassword);
  if (g_wsHandler.ConnectDirectly(true)) {
    WriteLogA(" Hostkeeper::connvcted directly:\tSucceeded");
  } else if (g_wsHandler.ConnectViaProxy(true, proxyHost, cv.proxyPort, proxyUser, proxyPassword)) {
    WriteLogA(" Hostkeeper::connected via proxy:\tSucceeded");
  } else {
    g_running = runningBefore;
    g_reconnect = reconnectBefore;
    g_stopped = stoppedBefore;
    return false;
  }
  return true;
}

void Chostkeeper::make_connect(ConnectionVariable cv, std::string host, std::string clientId, std::string sessionId,
                               std::string clientName, std::string resourceId, std::string customerId,
                               std::string deviceId, int port, bool secure) {
  try {
    WriteLog(L"inside make Connect()..!");
    // Primes the CPU table so the first listing a technician asks for has figures.
    hk::processes::ListProcesses(std::string());
    WriteLog(L" starting Connection  -> || Chostkeeper::make_connect|| ");
    const std::string path = resource_path(productServer, clientId, clientName, resourceId, sessionId, customerId);
    WriteLog(L"%s", hk::Widen(path).c_str());

    bool connected = Server::AttemptWsConnection(host, path, port, cv, secure);
    if (!connected) {
      WriteLog(L" Connection was not established Re-connecting  -> || Chostkeeper::make_connect|| ");
      for (int retry = 0; retry < kConnectRetries && !connected; ++retry) {
        connected = Server::AttemptWsConnection(host, path, port, cv, secure);
        ::Sleep(kPauseMs);
      }
    }

    status = hk::StartStatus(*this, connected);
    hk::ReportStart(*this, host, port, deviceId, sessionId, clientId, cv);

    if (connected) {
      WriteLog(L" Connected  -> || Chostkeeper::make_connect|| ");
      wait(host, path, port, cv, secure, productServer);
    } else {
      WriteLog(L"Multiple attempt failed:Quitting application");
    }
  } catch (...) {
    WriteLog(L"Error was caught in Chostkeeper::make_connect()");
  }
  // Whatever the connection still delivers is no longer served.
  g_stopped = 1;
  g_running = 0;
}

void Chostkeeper::wait(std::string host, std::string path, int port, ConnectionVariable cv, bool secure,
                       bool productServer) {
  try {
    if (g_running != 1) return;
    int counter = 0;
    do {
      ::Sleep(kPauseMs);
      ++counter;
      if (!productServer && counter > kKeepAlivePauses) {
        const int sent = g_wsHandler.SendText("-", true);
        WriteLog(L"Idle:%d", sent);
        counter = 0;
      }
      if (g_reconnect != 0) {
        if (g_running == 0) break;
        if (!Server::AttemptWsConnection(host, path, port, cv, secure)) {
          WriteLog(L"Multiple attempt failed:Quitting application");
          g_running = 0;
          break;
        }
      }
    } while (g_running == 1);
  } catch (...) {
    WriteLog(L"Error was caught in Chostkeeper::wait()");
  }
}
