#include "curl_common.h"

#include <mutex>

#include "tls_roots.h"
#include "ws_protocol.h"

namespace clientsocket {

bool CurlReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK; });
  return ready;
}

CURLcode ApplyConnectionOptions(CURL* curl, const ConnectionOptions& options, std::string* error) {
  CURLcode rc = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, option, value);
  };
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  set(CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
  // A peer that vanishes without a reset is noticed within minutes, not hours.
  set(CURLOPT_TCP_KEEPALIVE, 1L);
  set(CURLOPT_TCP_KEEPIDLE, 60L);
  set(CURLOPT_TCP_KEEPINTVL, 20L);

  const ProxySettings* proxy = options.proxy;
  if (proxy && !proxy->host.empty()) {
    set(CURLOPT_PROXY, UrlHost(proxy->host).c_str());
    if (proxy->port > 0) set(CURLOPT_PROXYPORT, static_cast<long>(proxy->port));
    set(CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    set(CURLOPT_HTTPPROXYTUNNEL, options.tunnel ? 1L : 0L);
    if (!proxy->user.empty()) {
      set(CURLOPT_PROXYUSERNAME, proxy->user.c_str());
      set(CURLOPT_PROXYPASSWORD, proxy->password.c_str());
      // Basic, Digest, NTLM or Negotiate (through SSPI), whichever the proxy asks for.
      set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
    }
  } else {
    // An empty proxy also keeps libcurl from taking one from the environment.
    set(CURLOPT_PROXY, "");
  }

  if (options.secure && rc == CURLE_OK) {
    std::string why;
    const std::string roots = TrustedRootsPem(&why);
    if (roots.empty()) {
      if (error) *error = "no trusted root certificates: " + why;
      return CURLE_SSL_CACERT_BADFILE;
    }
    curl_blob blob{const_cast<char*>(roots.data()), roots.size(), CURL_BLOB_COPY};
    set(CURLOPT_CAINFO_BLOB, &blob);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    // Revocation lists and OCSP are often out of reach from the agent's
    // network, and an unreachable one fails the whole handshake.
    set(CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NO_REVOKE));
  }
  if (rc != CURLE_OK && error && error->empty()) *error = curl_easy_strerror(rc);
  return rc;
}

std::string DescribeProxy(const ProxySettings& proxy) {
  std::string out = UrlHost(proxy.host) + ":" + std::to_string(proxy.port);
  if (!proxy.user.empty()) out += " as user '" + proxy.user + "'";
  return out;
}

}  // namespace clientsocket
