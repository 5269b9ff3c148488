// A stand-in for ClientSocket's WebSocket that records the text frames sent
// and can play the server; RecordingWsSession puts one behind g_wsHandler.
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

  // made: what the socket was made for, as describe() reports it.
  RecordingSocket(std::string made, unsigned long context)
      : made_(std::move(made)), context_(context), connectResult_(detail::defaultConnectResult.load()) {
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
    proxy_ = " via " + host + ":" + std::to_string(port) + " as " + user + "/" + password;
  }
  bool Connect(bool) override {
    ++connectCalls_;
    connected_ = connectResult_;
    if (connected_ && detail::duringConnect) detail::duringConnect(*this);
    return connectResult_;
  }
  void Close(bool) override { connected_ = false; }
  // A frame sent without asking for the send-complete call is marked, so no
  // recorded text matches the expected one.
  int SendTextFrame(const char* data, int length, bool notify) override {
    std::lock_guard lock(lock_);
    texts_.push_back((notify ? "" : "[no notify] ") + (data && length > 0 ? std::string(data, length) : ""));
    return length;
  }
  int SendBinaryFrame(const void*, int length, bool) override { return length; }
  int SendControlFrame(const char*, int length, int) override { return length; }

  std::vector<std::string> texts() const {
    std::lock_guard lock(lock_);
    return texts_;
  }
  void clear() {
    std::lock_guard lock(lock_);
    texts_.clear();
  }
  // What the socket was made for and asked to do.
  std::string describe() const {
    std::lock_guard lock(lock_);
    return made_ + " connects " + std::to_string(connectCalls_) + proxy_;
  }

  void DeliverText(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    if (auto handler = onText_.load()) handler(copy.data(), static_cast<int>(text.size()), context_);
  }
  void DeliverClose(int code) {
    connected_ = false;
    char reason[] = "";
    if (auto handler = onClose_.load()) handler(code, reason, context_);
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

  const std::string made_;
  const unsigned long context_;
  std::atomic<unsigned long> refs_{1};
  std::atomic<bool> connected_{false};
  const bool connectResult_;
  std::atomic<int> connectCalls_{0};
  mutable std::mutex lock_;
  std::vector<std::string> texts_;
  std::string proxy_;
};

// Every handler built while it lives gets a recording socket.
class ScopedRecordingFactory {
 public:
  explicit ScopedRecordingFactory(bool connectResult = true) {
    detail::defaultConnectResult = connectResult;
    AsyncWsHandler::SetSocketFactory([](const std::string& host, int port, bool secure, unsigned long context,
                                        const std::string& path, const std::string&) {
      const std::string made = host + ":" + std::to_string(port) + (secure ? " tls " : " plain ") + path;
      return AsyncWsHandler::SocketPtr::Adopt(new RecordingSocket(made, context));
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
