// AsyncSocket kind 1: the WebSocket client.
//
// libcurl makes the connection (TCP, the proxy's CONNECT tunnel with its
// authentication, TLS with our own trust anchors) in connect-only mode; the
// WebSocket handshake and framing are done here over curl_easy_send and
// curl_easy_recv. libcurl 7.88's own curl_ws_send/curl_ws_recv cannot carry
// this component's traffic: a frame of exactly 126 bytes or of more than
// 65535 bytes goes out with a broken header (larger sends are also cut at
// 64 KiB into a frame marked final), and the receive side does not tell a
// first fragment from a whole message nor report an empty final fragment.
#include <curl/curl.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ClientSocket.h"
#include "component_log.h"
#include "curl_common.h"
#include "ws_protocol.h"
#include "ws_session.h"

namespace clientsocket {

namespace {

using SocketUtils::ClientSocket::AsyncSocket;
using SocketUtils::ClientSocket::stProxyDetails;

constexpr long kConnectTimeoutMs = 10000;  // TCP connect, to the server or the proxy
constexpr long kConnectTotalMs = 20000;    // with the proxy's tunnel and the TLS handshake
constexpr ULONGLONG kHandshakeTimeoutMs = 10000;
constexpr size_t kMaxHandshakeAnswer = 16 * 1024;
constexpr long kReceiveBuffer = 256 * 1024;
constexpr DWORD kCloseWaitMs = 5000;     // Close waits this long for the close callback
constexpr DWORD kPreviousWaitMs = 5000;  // a reconnect waits this long for the last close callback
constexpr DWORD kReleaseWaitMs = 5000;

std::atomic<int> g_socketSerial{0};

bool WaitSocket(curl_socket_t socket, bool forWrite, ULONGLONG deadline) {
  const ULONGLONG now = ::GetTickCount64();
  if (now >= deadline) return false;
  const ULONGLONG left = deadline - now;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval timeout{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
  return ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &timeout) > 0;
}

bool SendAllBefore(CURL* curl, curl_socket_t socket, const std::string& data, ULONGLONG deadline, CURLcode* rc) {
  size_t done = 0;
  while (done < data.size()) {
    size_t sent = 0;
    *rc = curl_easy_send(curl, data.data() + done, data.size() - done, &sent);
    if (*rc == CURLE_OK) {
      done += sent;
      continue;
    }
    if (*rc != CURLE_AGAIN) return false;
    if (!WaitSocket(socket, true, deadline)) {
      *rc = CURLE_OPERATION_TIMEDOUT;
      return false;
    }
  }
  return true;
}

class WsSocket final : public AsyncSocket, public SessionOwner {
 public:
  WsSocket(const std::string& host, int port, bool secure, unsigned long context, const std::string& path,
           std::shared_ptr<ComponentLog> log, const stProxyDetails& proxy)
      : host_(host),
        port_(port),
        secure_(secure),
        context_(context),
        path_(path),
        name_("#" + std::to_string(++g_socketSerial)),
        log_(std::move(log)) {
    proxy_.host = proxy.host;
    proxy_.port = proxy.port;
    proxy_.user = proxy.user;
    proxy_.password = proxy.password;
    useProxy_ = !proxy_.host.empty();
    log_->Write(name_, " created for ", Url());
  }

  unsigned long AddRef() override { return ++refs_; }

  unsigned long Release() override {
    const unsigned long left = --refs_;
    if (left != 0) return left;
    try {
      Shutdown();
    } catch (...) {
    }
    delete this;
    return 0;
  }

  bool IsConnected() const override {
    try {
      const std::shared_ptr<Session> session = Current();
      return session && session->IsOpen();
    } catch (...) {
      return false;
    }
  }

  void SetProxyDetails(std::string host, int port, std::string user, std::string password) override {
    try {
      std::lock_guard lock(stateLock_);
      proxy_.host = std::move(host);
      proxy_.port = port;
      proxy_.user = std::move(user);
      proxy_.password = std::move(password);
      useProxy_ = true;
    } catch (...) {
    }
  }

  // The flag is not used: every connect waits for its outcome.
  bool Connect(bool) override {
    try {
      return ConnectOnce();
    } catch (...) {
      log_->Write(name_, " connect failed: out of memory");
      return false;
    }
  }

  // flag true: close handshake (close frame 1000, the server's answer awaited
  // up to 3 s); false: the connection is dropped at once. Either way the
  // close callback follows, before this returns unless called from a callback.
  void Close(bool graceful) override {
    try {
      const std::shared_ptr<Session> session = Current();
      if (!session || !session->IsOpen()) return;
      log_->Write(name_, graceful ? " closing" : " dropping the connection");
      session->Close(graceful, ClosePayload(kCloseNormal, ""));
      if (!session->OnThread()) session->WaitDone(kCloseWaitMs);
    } catch (...) {
    }
  }

  int SendTextFrame(const char* data, int length, bool notify) override {
    return SendData(kOpText, data, length, notify);
  }

  int SendBinaryFrame(const void* data, int length, bool notify) override {
    return SendData(kOpBinary, data, length, notify);
  }

  int SendControlFrame(const char* data, int length, int opcode) override {
    try {
      if (length < 0 || static_cast<size_t>(length) > kMaxControlPayload || (!data && length > 0)) return -1;
      const std::shared_ptr<Session> session = Current();
      if (!session) return -1;
      if (opcode == kOpClose) {
        // A close payload is empty or starts with a two-byte code.
        if (length == 1 || !session->IsOpen()) return -1;
        session->Close(true, std::string(data ? data : "", static_cast<size_t>(length)));
        if (!session->OnThread()) session->WaitDone(kCloseWaitMs);
        return length;
      }
      if (opcode != kOpPing && opcode != kOpPong) return -1;
      return session->Send(static_cast<uint8_t>(opcode), data, static_cast<size_t>(length));
    } catch (...) {
      return -1;
    }
  }

 private:
  ~WsSocket() override = default;

  Handlers CurrentHandlers() override {
    Handlers h;
    h.onConnect = onConnect_.load();
    h.onText = onText_.load();
    h.onBinary = onBinary_.load();
    h.onError = onError_.load();
    h.onClose = onClose_.load();
    h.context = context_;
    return h;
  }

  std::string Url() const {
    return (secure_ ? "wss://" : "ws://") + UrlHost(host_) + ":" + std::to_string(port_) + RequestTarget(path_);
  }

  std::shared_ptr<Session> Current() const {
    std::lock_guard lock(stateLock_);
    return session_;
  }

  int SendData(uint8_t opcode, const void* data, int length, bool notify) {
    try {
      if (length < 0 || (!data && length > 0)) return -1;
      const std::shared_ptr<Session> session = Current();
      if (!session) return -1;
      const int sent = session->Send(opcode, data, static_cast<size_t>(length));
      if (sent >= 0 && notify) {
        if (const auto handler = onSendComplete_.load()) {
          try {
            handler(const_cast<void*>(data), length, context_);
          } catch (...) {
            log_->Write(name_, " the send-complete callback threw; ignored");
          }
        }
      }
      return sent;
    } catch (...) {
      return -1;
    }
  }

  bool ConnectOnce() {
    std::lock_guard connecting(connectLock_);
    std::shared_ptr<Session> previous;
    ProxySettings proxy;
    bool useProxy;
    {
      std::lock_guard lock(stateLock_);
      if (session_ && session_->IsOpen()) return true;
      previous = session_;
      proxy = proxy_;
      useProxy = useProxy_;
    }
    // A connection that ended delivers its close callback before the next one opens.
    if (previous && !previous->OnThread()) previous->WaitDone(kPreviousWaitMs);

    if (useProxy && (proxy.host.empty() || proxy.port <= 0 || proxy.port > 65535)) {
      // Asked to go through a proxy that was not named: that attempt fails
      // here rather than turning into a second direct one.
      log_->Write(name_, " connect failed: no proxy host or port given (", DescribeProxy(proxy), ")");
      return false;
    }
    EstablishedConnection connection;
    if (!Establish(useProxy ? proxy : ProxySettings{}, &connection)) return false;
    auto session = std::make_shared<Session>(std::move(connection), log_, name_, this);
    if (!Session::Start(session)) {
      log_->Write(name_, " could not start the receive thread (error ", ::GetLastError(), ")");
      return false;
    }
    // Published first, so its callbacks already find it as the current
    // connection; resumed whatever happens, or it would hold the connection.
    struct ResumeOnExit {
      Session* session;
      ~ResumeOnExit() { session->Resume(); }
    } resume{session.get()};
    {
      std::lock_guard lock(stateLock_);
      if (previous && !previous->WaitDone(0)) retired_.push_back(previous);
      retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                    [](const std::shared_ptr<Session>& s) { return s->WaitDone(0); }),
                     retired_.end());
      session_ = session;
    }
    log_->Write(name_, " connected");
    return true;
  }

  bool Establish(const ProxySettings& proxy, EstablishedConnection* out) {
    const bool viaProxy = !proxy.host.empty();
    log_->Write(name_, " connecting to ", Url(), viaProxy ? " through proxy " + DescribeProxy(proxy) : " directly");
    if (port_ <= 0 || port_ > 65535 || host_.empty()) {
      log_->Write(name_, " connect failed: no host or port");
      return false;
    }
    if (!CurlReady()) {
      log_->Write(name_, " connect failed: libcurl could not be initialised");
      return false;
    }
    unique_curl curl(curl_easy_init());
    auto errorBuffer = std::make_unique<char[]>(CURL_ERROR_SIZE);
    errorBuffer[0] = '\0';
    if (!curl) {
      log_->Write(name_, " connect failed: no libcurl handle");
      return false;
    }
    // libcurl only connects (tunnel and TLS included); the upgrade is ours.
    const std::string url = (secure_ ? "https://" : "http://") + UrlHost(host_) + ":" + std::to_string(port_) + "/";
    std::string why;
    ConnectionOptions options;
    options.secure = secure_;
    options.proxy = &proxy;
    options.tunnel = true;
    options.connectTimeoutMs = kConnectTimeoutMs;
    options.totalTimeoutMs = kConnectTotalMs;
    CURLcode rc = curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, errorBuffer.get());
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl.get(), CURLOPT_CONNECT_ONLY, 1L);
    // Each curl_easy_recv returns at most this much.
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl.get(), CURLOPT_BUFFERSIZE, kReceiveBuffer);
    if (rc == CURLE_OK) rc = ApplyConnectionOptions(curl.get(), options, &why);
    if (rc != CURLE_OK) {
      log_->Write(name_, " connect failed: ", why.empty() ? curl_easy_strerror(rc) : why.c_str(), " (curl ", rc, ")");
      return false;
    }
    rc = curl_easy_perform(curl.get());
    if (rc != CURLE_OK) {
      std::string text = errorBuffer[0] ? errorBuffer.get() : curl_easy_strerror(rc);
      long proxyAnswer = 0;
      if (viaProxy && curl_easy_getinfo(curl.get(), CURLINFO_HTTP_CONNECTCODE, &proxyAnswer) == CURLE_OK &&
          proxyAnswer != 0 && proxyAnswer != 200)
        text += ", proxy answered " + std::to_string(proxyAnswer);
      log_->Write(name_, " connect failed: ", text, " (curl ", rc, ")");
      return false;
    }
    // From here on the connection lives as long as it is used.
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 0L);
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(curl.get(), CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD) {
      log_->Write(name_, " connect failed: no socket after connecting");
      return false;
    }
    std::string leftover;
    if (!Handshake(curl.get(), socket, errorBuffer.get(), &leftover)) return false;

    out->curl = std::move(curl);
    out->errorBuffer = std::move(errorBuffer);
    out->socket = socket;
    out->secure = secure_;
    out->leftover = std::move(leftover);
    return true;
  }

  bool Handshake(CURL* curl, curl_socket_t socket, const char* errorBuffer, std::string* leftover) {
    const ULONGLONG deadline = ::GetTickCount64() + kHandshakeTimeoutMs;
    const std::string key = NewHandshakeKey();
    const std::string request = BuildHandshakeRequest(host_, port_, secure_, path_, key);
    CURLcode rc = CURLE_OK;
    if (!SendAllBefore(curl, socket, request, deadline, &rc)) {
      log_->Write(
          name_, " handshake failed: sending: ",
          rc == CURLE_OPERATION_TIMEDOUT ? "timed out" : (errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc)));
      return false;
    }
    std::string answer;
    char chunk[4096];
    size_t headerEnd = std::string::npos;
    while (headerEnd == std::string::npos) {
      size_t received = 0;
      rc = curl_easy_recv(curl, chunk, sizeof chunk, &received);
      if (rc == CURLE_AGAIN) {
        if (!WaitSocket(socket, false, deadline)) {
          log_->Write(name_, " handshake failed: no answer within 10 s");
          return false;
        }
        continue;
      }
      if (rc != CURLE_OK) {
        log_->Write(name_, " handshake failed: ", errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc));
        return false;
      }
      if (received == 0) {
        log_->Write(name_, " handshake failed: the server closed the connection");
        return false;
      }
      answer.append(chunk, received);
      headerEnd = answer.find("\r\n\r\n");
      if (headerEnd == std::string::npos && answer.size() > kMaxHandshakeAnswer) {
        log_->Write(name_, " handshake failed: answer too long");
        return false;
      }
    }
    int status = 0;
    std::string why;
    if (!CheckHandshakeResponse(std::string_view(answer).substr(0, headerEnd + 2), key, &status, &why)) {
      log_->Write(name_, " handshake failed: ", why);
      return false;
    }
    *leftover = answer.substr(headerEnd + 4);
    return true;
  }

  // The last reference is gone: the connections end without callbacks.
  void Shutdown() {
    std::vector<std::shared_ptr<Session>> sessions;
    {
      std::lock_guard lock(stateLock_);
      if (session_) sessions.push_back(std::move(session_));
      for (auto& s : retired_) sessions.push_back(std::move(s));
      retired_.clear();
    }
    for (const auto& s : sessions) s->Abandon();
    for (const auto& s : sessions)
      if (!s->OnThread()) s->WaitDone(kReleaseWaitMs);
    log_->Write(name_, " released");
  }

  std::atomic<unsigned long> refs_{1};
  const std::string host_;
  const int port_;
  const bool secure_;
  const unsigned long context_;
  const std::string path_;
  const std::string name_;
  const std::shared_ptr<ComponentLog> log_;

  std::mutex connectLock_;  // one connect at a time
  mutable std::mutex stateLock_;
  ProxySettings proxy_;
  bool useProxy_ = false;  // a proxy was given, at creation or since
  std::shared_ptr<Session> session_;
  // Ended connections still delivering their close callback.
  std::vector<std::shared_ptr<Session>> retired_;
};

}  // namespace

}  // namespace clientsocket

namespace SocketUtils::ClientSocket {

SmartPtr<AsyncSocket> AsyncSocket::CreateAsyncSocket(int kind, const std::string& host, int port, bool secure,
                                                     unsigned long context, const std::string& path,
                                                     std::string logFilePath, const stProxyDetails& proxy) {
  try {
    if (kind != 1) return {};
    auto log = clientsocket::ComponentLog::Open(logFilePath);
    if (host.empty() || port <= 0 || port > 65535) {
      log->Write("socket not created: no host or an invalid port (", port, ")");
      return {};
    }
    return SmartPtr<AsyncSocket>::Adopt(
        new clientsocket::WsSocket(host, port, secure, context, path, std::move(log), proxy));
  } catch (...) {
    return {};
  }
}

}  // namespace SocketUtils::ClientSocket
