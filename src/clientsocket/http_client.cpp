// HttpHandler::HttpClient over libcurl: one request at a time, plain or TLS,
// directly or through an HTTP proxy.
//
// Error codes: after a transport failure the libcurl error number (below
// 100), after an answer outside 2xx its HTTP status, 0 after a success.
#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "ClientSocket.h"
#include "curl_common.h"
#include "ws_protocol.h"

namespace clientsocket {

namespace {

constexpr long kDefaultConnectTimeoutMs = 10000;
constexpr long kDefaultTotalTimeoutMs = 30000;
constexpr size_t kMaxResponse = 16u << 20;

struct ResponseSink {
  std::string body;
  std::string statusLine;
  bool truncated = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<ResponseSink*>(user);
  const size_t n = size * count;
  try {
    const size_t room = kMaxResponse - std::min(kMaxResponse, sink->body.size());
    if (n > room) sink->truncated = true;
    sink->body.append(data, std::min(n, room));
  } catch (...) {
    return 0;  // aborts the transfer: CURLE_WRITE_ERROR
  }
  return n;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<ResponseSink*>(user);
  const size_t n = size * count;
  try {
    // The last status line wins (after a 100 Continue or a proxy's 200).
    if (n >= 5 && std::string(data, 5) == "HTTP/") {
      sink->statusLine.assign(data, n);
      while (!sink->statusLine.empty() && (sink->statusLine.back() == '\r' || sink->statusLine.back() == '\n'))
        sink->statusLine.pop_back();
    }
  } catch (...) {
    return 0;
  }
  return n;
}

void free_slist(curl_slist* list) { curl_slist_free_all(list); }
using unique_slist = hk::unique_any<curl_slist*, free_slist>;

class CurlHttpClient final : public HttpHandler::HttpClient {
 public:
  int GetLastErrorCode() override {
    try {
      std::lock_guard lock(lock_);
      return errorCode_;
    } catch (...) {
      return -1;
    }
  }

  std::string& GetLastErrorText(std::string& out) override {
    try {
      std::lock_guard lock(lock_);
      out = errorText_;
    } catch (...) {
    }
    return out;
  }

  // reserved1: connect time-out and reserved2: whole-request time-out, in
  // seconds; zero or less picks 10 s and 30 s.
  void SetConnection(std::string host, int port, bool secure, std::string proxyHost, int proxyPort,
                     std::string proxyUser, std::string proxyPassword, int reserved1, int reserved2) override {
    try {
      std::lock_guard lock(lock_);
      host_ = std::move(host);
      port_ = port;
      secure_ = secure;
      proxy_.host = std::move(proxyHost);
      proxy_.port = proxyPort;
      proxy_.user = std::move(proxyUser);
      proxy_.password = std::move(proxyPassword);
      connectTimeoutMs_ = reserved1 > 0 ? reserved1 * 1000L : kDefaultConnectTimeoutMs;
      totalTimeoutMs_ = reserved2 > 0 ? reserved2 * 1000L : kDefaultTotalTimeoutMs;
    } catch (...) {
    }
  }

  void SetUseProxy(bool use) override {
    try {
      std::lock_guard lock(lock_);
      useProxy_ = use;
    } catch (...) {
    }
  }

  void BeginRequest() override {
    try {
      std::lock_guard lock(lock_);
      response_.clear();
      errorCode_ = 0;
      errorText_.clear();
    } catch (...) {
    }
  }

  // post true: POST of body; false: GET (body unused).
  bool SendRequest(std::string path, std::string body, bool post, std::string contentType) override {
    try {
      std::lock_guard lock(lock_);
      return Perform(path, body, post, contentType);
    } catch (...) {
      try {
        errorCode_ = CURLE_OUT_OF_MEMORY;
        errorText_ = "out of memory";
      } catch (...) {
      }
      return false;
    }
  }

  void GetResponse(std::string& out) override {
    try {
      std::lock_guard lock(lock_);
      out = response_;
    } catch (...) {
    }
  }

 private:
  bool Fail(int code, std::string text) {
    errorCode_ = code;
    errorText_ = std::move(text);
    return false;
  }

  bool Perform(const std::string& path, const std::string& body, bool post, const std::string& contentType) {
    response_.clear();
    errorCode_ = 0;
    errorText_.clear();
    if (host_.empty() || port_ <= 0 || port_ > 65535) return Fail(CURLE_URL_MALFORMAT, "no host or an invalid port");
    if (!CurlReady()) return Fail(CURLE_FAILED_INIT, "libcurl could not be initialised");
    unique_curl curl(curl_easy_init());
    if (!curl) return Fail(CURLE_FAILED_INIT, "no libcurl handle");

    char errorBuffer[CURL_ERROR_SIZE] = {};
    const std::string url =
        (secure_ ? "https://" : "http://") + UrlHost(host_) + ":" + std::to_string(port_) + RequestTarget(path);
    ConnectionOptions options;
    options.secure = secure_;
    options.proxy = useProxy_ ? &proxy_ : nullptr;
    // Plain requests go through the proxy as usual; TLS always through a tunnel.
    options.tunnel = secure_;
    options.connectTimeoutMs = connectTimeoutMs_;
    options.totalTimeoutMs = totalTimeoutMs_;

    ResponseSink sink;
    unique_slist headers;
    if (post) {
      headers.reset(curl_slist_append(nullptr, ("Content-Type: " + contentType).c_str()));
      // No "Expect: 100-continue" pause before larger bodies.
      if (headers) curl_slist_append(headers.get(), "Expect:");
      if (!headers) return Fail(CURLE_OUT_OF_MEMORY, "out of memory");
    }

    std::string why;
    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
      if (rc == CURLE_OK) rc = curl_easy_setopt(curl.get(), option, value);
    };
    set(CURLOPT_ERRORBUFFER, errorBuffer);
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_WRITEFUNCTION, &CollectBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    set(CURLOPT_HEADERFUNCTION, &CollectHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(&sink));
    set(CURLOPT_FOLLOWLOCATION, 0L);
    if (post) {
      set(CURLOPT_POST, 1L);
      set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      set(CURLOPT_POSTFIELDS, body.data());
      set(CURLOPT_HTTPHEADER, headers.get());
    } else {
      set(CURLOPT_HTTPGET, 1L);
    }
    if (rc == CURLE_OK) rc = ApplyConnectionOptions(curl.get(), options, &why);
    if (rc != CURLE_OK) return Fail(rc, why.empty() ? curl_easy_strerror(rc) : why);

    rc = curl_easy_perform(curl.get());
    response_ = std::move(sink.body);
    if (rc != CURLE_OK) return Fail(rc, errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc));
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
      return Fail(static_cast<int>(status),
                  sink.statusLine.empty() ? "HTTP status " + std::to_string(status) : sink.statusLine);
    return true;
  }

  std::mutex lock_;
  std::string host_;
  int port_ = 0;
  bool secure_ = false;
  ProxySettings proxy_;
  bool useProxy_ = false;
  long connectTimeoutMs_ = kDefaultConnectTimeoutMs;
  long totalTimeoutMs_ = kDefaultTotalTimeoutMs;
  std::string response_;
  int errorCode_ = 0;
  std::string errorText_;
};

}  // namespace

}  // namespace clientsocket

namespace ClientConnectionFactory {

HRESULT QueryInterface(const GUID& iid, std::shared_ptr<HttpHandler::HttpClient>* out) {
  if (!out) return E_INVALIDARG;
  try {
    out->reset();
    if (!IsEqualGUID(iid, IID_HttpClient)) return E_NOINTERFACE;
    *out = std::make_shared<clientsocket::CurlHttpClient>();
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace ClientConnectionFactory
