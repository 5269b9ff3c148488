// libcurl set-up shared by the WebSocket and the HTTP client: one global
// initialisation, the handle owner, and the connection options both use
// (timeouts, keep-alive, proxy, certificate checks).
#pragma once
#include <curl/curl.h>

#include <string>

#include "infra/win_resource.h"

namespace clientsocket {

using unique_curl = hk::unique_any<CURL*, curl_easy_cleanup>;

// curl_global_init, once per process; false when it failed.
bool CurlReady();

struct ProxySettings {
  std::string host;
  int port = 0;
  std::string user;
  std::string password;
};

struct ConnectionOptions {
  bool secure = false;
  const ProxySettings* proxy = nullptr;  // null or an empty host: direct
  bool tunnel = true;                    // CONNECT through the proxy
  long connectTimeoutMs = 0;
  long totalTimeoutMs = 0;  // 0: none
};

// Applies the options; on failure says why. TLS always checks the server's
// certificate chain against the machine's trusted roots and its host name.
CURLcode ApplyConnectionOptions(CURL* curl, const ConnectionOptions& options, std::string* error);

// "host:port" and the user when one is set; never the password.
std::string DescribeProxy(const ProxySettings& proxy);

}  // namespace clientsocket
