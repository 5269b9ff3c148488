// The one HTTP report of how the start went: the status document back to the
// product server, or the notification to the gateway in relay mode.
#include <windows.h>

#include <string>

#include "core/Chostkeeper.h"
#include "core/HttpUtils.h"
#include "core/messages.h"
#include "core/status_report.h"
#include "core/text.h"
#include "infra/log.h"

namespace hk {

std::string GatewayHost() {
  // A deployment (or a test) may point the notification elsewhere without a rebuild.
  char value[256];
  const DWORD n = ::GetEnvironmentVariableA("HOSTKEEPER_GATEWAY_HOST", value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string(HK_GATEWAY_HOST);
}

Json::Value StartStatus(const Chostkeeper& keeper, bool connected) {
  Json::Value status;
  status["resourceId"] = keeper.resourceId;
  status["customerId"] = keeper.customerId;
  status["sessionId"] = keeper.sessionId;
  status["toolId"] = 1;
  status["status"] = connected ? 1 : 0;
  status["statusMessage"] = connected ? "hostkpr .exe Successfully Initiated" : "error";
  return status;
}

Json::Value GatewayNotification(const std::string& deviceId, const std::string& sessionId,
                                const std::string& clientId) {
  Json::Value action;
  action["notification_type"] = "2";
  action["session_id"] = sessionId;
  action["client_id"] = clientId;
  action["is_success"] = true;
  action["code"] = 2106;
  action["msg"] = "sucess";
  Json::Value doc;
  doc["device_id"] = deviceId;
  doc["action_type"] = "toolNotification";
  doc["action"] = action;
  return doc;
}

void ReportStart(Chostkeeper& keeper, const std::string& host, int port, const std::string& deviceId,
                 const std::string& sessionId, const std::string& clientId, const ConnectionVariable& cv) {
  using HttpUtils::HttpConnectionFactory;
  std::shared_ptr<HttpHandler::HttpClient> client;
  const std::wstring wideHost = Widen(host);
  if (!HttpConnectionFactory::Instance()) {
    WriteLogLevel0(L"SendWebRequest Failed %s, Reason Unable to get an instance of http factory", wideHost.c_str());
  } else {
    std::shared_ptr<void> util;
    HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpUtil, &util);
    if (!util) {
      WriteLogLevel0(L"SendWebRequest Failed %s, Reason Unable to get an instance of http client", wideHost.c_str());
    } else {
      std::shared_ptr<void> found;
      HttpConnectionFactory::QueryInterface(HttpUtils::IID_HttpClient, &found);
      client = std::static_pointer_cast<HttpHandler::HttpClient>(found);
    }
  }

  char* status = nullptr;
  if (ChangeJsonToString(keeper.status, &status) != 0) {
    WriteLog(L"postStatusToGatewayServlet: Unable to convert JSON data to string\n");
    return;
  }
  WriteLog(L"%s", FromUtf8(status).c_str());
  if (client) {
    if (keeper.productServer) {
      char* body = nullptr;
      if (ChangeAnsiToUTF8Str(status, &body)) {
        int reportPort = port;
        std::string path = "toolsstatus";
        keeper.sendHttpRequest(client, wideHost, reportPort, path, body, cv);
      }
      FreeText(body);
    } else {
      char* body = nullptr;
      if (ChangeJsonToString(GatewayNotification(deviceId, sessionId, clientId), &body) == 0) {
        int gatewayPort = 443;
        std::string path = "/api/v1/unattended_computer/action";
        keeper.sendHttpRequest(client, Widen(GatewayHost()), gatewayPort, path, body, cv);
      }
      FreeText(body);
    }
  }
  FreeText(status);
}

}  // namespace hk

void Chostkeeper::sendHttpRequest(std::shared_ptr<HttpHandler::HttpClient>& client, std::wstring host, int& port,
                                  std::string& path, const char* body, ConnectionVariable) {
  if (!client) return;
  constexpr int kAttempts = 5;
  const std::string narrowHost = hk::Narrow(host);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    client->SetUseProxy(false);
    client->SetConnection(narrowHost, port, port == 443, "", 0, "", "", -1, -1);
    client->BeginRequest();
    std::string response;
    if (client->SendRequest(path, body ? body : "", true, "application/json")) {
      client->GetResponse(response);
      return;
    }
    const int code = client->GetLastErrorCode();
    client->GetResponse(response);
    std::string errorText;
    client->GetLastErrorText(errorText);
    WriteLog(L"0------------------------------->%d %s", code, hk::Widen(errorText).c_str());
  }
}
