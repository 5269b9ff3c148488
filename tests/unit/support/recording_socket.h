// A stand-in for ClientSocket's WebSocket that records the text frames the
// library sends and can play the server (DeliverText, DeliverClose), and a
// way to put one behind g_wsHandler for a test (RecordingWsSession).
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ClientSocket.h"
#include "core/globals.h"
#include "transport/AsyncWsHandler.h"

namespace hk::test {

// What the factory was asked for.
struct SocketRequest {
  std::string host;
  int port = 0;
  bool secure = false;
  unsigned long context = 0;
  std::string path;
};

class RecordingSocket;

namespace detail {
inline std::mutex registryLock;
inline std::vector<RecordingSocket*> registry;        // the sockets alive
inline std::atomic<bool> defaultConnectResult{true};  // of Connect() on sockets made from now on
// Runs inside a successful Connect(): a server that acts the moment it accepts.
inline std::function<void(RecordingSocket&)> duringConnect;
}  // namespace detail

class RecordingSocket final : public SocketUtils::ClientSocket::AsyncSocket {
 public:
  using Ptr = SocketUtils::SmartPtr<RecordingSocket>;

  explicit RecordingSocket(SocketRequest request)
      : request_(std::move(request)), connectResult_(detail::defaultConnectResult.load()) {
    std::lock_guard lock(detail::registryLock);
    detail::registry.push_back(this);
  }

  unsigned long AddRef() override { return ++refs_; }
  unsigned long Release() override {
    const unsigned long left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  bool IsConnected() const override { return connected_; }
  void SetProxyDetails(std::string host, int port, std::string user, std::string password) override {
    std::lock_guard lock(lock_);
    proxy_ = {std::move(host), std::move(user), std::move(password), port};
  }
  bool Connect(bool) override {
    ++connectCalls_;
    connected_ = connectResult_;
    if (connected_ && detail::duringConnect) detail::duringConnect(*this);
    return connectResult_;
  }
  void Close(bool) override { connected_ = false; }
  int SendTextFrame(const char* data, int length, bool flag) override {
    std::lock_guard lock(lock_);
    texts_.push_back(data && length > 0 ? std::string(data, length) : std::string());
    flags_.push_back(flag);
    return length;
  }
  int SendBinaryFrame(const void*, int length, bool) override { return length; }
  int SendControlFrame(const char*, int length, int) override { return length; }

  // The text frames sent, in order, and the flag of each.
  std::vector<std::string> texts() const {
    std::lock_guard lock(lock_);
    return texts_;
  }
  std::vector<bool> flags() const {
    std::lock_guard lock(lock_);
    return flags_;
  }
  void clear() {
    std::lock_guard lock(lock_);
    texts_.clear();
    flags_.clear();
  }
  const SocketRequest& request() const { return request_; }
  SocketUtils::ClientSocket::stProxyDetails proxy() const {
    std::lock_guard lock(lock_);
    return proxy_;
  }
  int connect_calls() const { return connectCalls_; }

  // Playing the server: the handlers registered on this socket are called.
  void DeliverText(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    if (auto handler = onText_.load()) handler(copy.data(), static_cast<int>(text.size()), request_.context);
  }
  void DeliverClose(int code) {
    connected_ = false;
    char reason[] = "";
    if (auto handler = onClose_.load()) handler(code, reason, request_.context);
  }

  static size_t LiveCount() {
    std::lock_guard lock(detail::registryLock);
    return detail::registry.size();
  }
  static Ptr Newest() {
    std::lock_guard lock(detail::registryLock);
    for (auto it = detail::registry.rbegin(); it != detail::registry.rend(); ++it) {
      // A socket on its way to deletion must not be revived.
      unsigned long n = (*it)->refs_.load();
      while (n != 0)
        if ((*it)->refs_.compare_exchange_weak(n, n + 1)) return Ptr::Adopt(*it);
    }
    return {};
  }

 private:
  ~RecordingSocket() override {
    std::lock_guard lock(detail::registryLock);
    auto& sockets = detail::registry;
    sockets.erase(std::remove(sockets.begin(), sockets.end(), this), sockets.end());
  }

  const SocketRequest request_;
  std::atomic<unsigned long> refs_{1};
  std::atomic<bool> connected_{false};
  const bool connectResult_;
  std::atomic<int> connectCalls_{0};
  mutable std::mutex lock_;
  std::vector<std::string> texts_;
  std::vector<bool> flags_;
  SocketUtils::ClientSocket::stProxyDetails proxy_;
};

// Every handler built while it lives gets a recording socket.
class ScopedRecordingFactory {
 public:
  explicit ScopedRecordingFactory(bool connectResult = true) {
    detail::defaultConnectResult = connectResult;
    AsyncWsHandler::SetSocketFactory([](const std::string& host, int port, bool secure, unsigned long context,
                                        const std::string& path, const std::string&) {
      return AsyncWsHandler::SocketPtr::Adopt(new RecordingSocket({host, port, secure, context, path}));
    });
  }
  ScopedRecordingFactory(const ScopedRecordingFactory&) = delete;
  ScopedRecordingFactory& operator=(const ScopedRecordingFactory&) = delete;
  ~ScopedRecordingFactory() {
    AsyncWsHandler::SetSocketFactory(nullptr);
    detail::defaultConnectResult = true;
  }
};

// A handler with a recording socket in g_wsHandler while it lives.
class RecordingWsSession {
 public:
  RecordingWsSession() : saved_(g_wsHandler) {
    ScopedRecordingFactory factory;
    g_wsHandler = AsyncWsHandler("server.test", true, 443, "tools/HK_NATIVE", 0);
    socket_ = RecordingSocket::Newest();
  }
  RecordingWsSession(const RecordingWsSession&) = delete;
  RecordingWsSession& operator=(const RecordingWsSession&) = delete;
  ~RecordingWsSession() { g_wsHandler = saved_; }

  RecordingSocket& socket() const { return *socket_.get(); }
  std::vector<std::string> texts() const { return socket_->texts(); }
  void clear() const { socket_->clear(); }

 private:
  AsyncWsHandler saved_;
  RecordingSocket::Ptr socket_;
};

}  // namespace hk::test
