// A stand-in for ClientSocket's WebSocket that records every frame the
// library sends, and a way to put one behind g_wsHandler for a test:
//
//   hk::test::RecordingWsSession session;        // g_wsHandler now records
//   POST_JSON_faliure("1", "1106", "x");
//   EXPECT_EQ(session.texts(), std::vector<std::string>{...});
//
// The socket can also play the server: DeliverText() calls the text handler
// the handler registered, as a received frame would.
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ClientSocket.h"
#include "core/globals.h"
#include "transport/AsyncWsHandler.h"

namespace hk::test {

struct RecordedFrame {
  enum class Kind { kText, kBinary, kControl };
  Kind kind = Kind::kText;
  std::string data;
  bool flag = false;  // the flag of text and binary frames
  int opcode = 0;     // control frames only
};

// What the factory was asked for when it made a socket.
struct SocketRequest {
  std::string host;
  int port = 0;
  bool secure = false;
  unsigned long context = 0;
  std::string path;
  std::string logPath;
};

class RecordingSocket;

namespace detail {
// Sockets alive right now, so a test can reach the ones a factory made.
inline std::mutex& registry_lock() {
  static std::mutex lock;
  return lock;
}
inline std::vector<RecordingSocket*>& registry() {
  static std::vector<RecordingSocket*> sockets;
  return sockets;
}
// Result of Connect() for sockets made from now on.
inline std::atomic<bool>& default_connect_result() {
  static std::atomic<bool> result{true};
  return result;
}
// Runs inside a successful Connect(), before it returns: a server that closes
// or sends the moment it accepts.
inline std::function<void(RecordingSocket&)>& during_connect() {
  static std::function<void(RecordingSocket&)> hook;
  return hook;
}
}  // namespace detail

class RecordingSocket final : public SocketUtils::ClientSocket::AsyncSocket {
 public:
  using Ptr = SocketUtils::SmartPtr<RecordingSocket>;

  // Starts with one reference, owned by whoever adopts it.
  explicit RecordingSocket(SocketRequest request = {})
      : request_(std::move(request)), connectResult_(detail::default_connect_result().load()) {
    std::lock_guard lock(detail::registry_lock());
    detail::registry().push_back(this);
  }

  static Ptr Create(SocketRequest request = {}) { return Ptr::Adopt(new RecordingSocket(std::move(request))); }

  // --- AsyncSocket
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
    ++proxyCalls_;
  }
  bool Connect(bool) override {
    ++connectCalls_;
    connected_ = connectResult_.load();
    if (connected_ && detail::during_connect()) detail::during_connect()(*this);
    return connectResult_.load();
  }
  void Close(bool) override {
    ++closeCalls_;
    connected_ = false;
  }
  int SendTextFrame(const char* data, int length, bool flag) override {
    return Record(RecordedFrame::Kind::kText, data, length, flag, 0);
  }
  int SendBinaryFrame(const void* data, int length, bool flag) override {
    return Record(RecordedFrame::Kind::kBinary, data, length, flag, 0);
  }
  int SendControlFrame(const char* data, int length, int opcode) override {
    return Record(RecordedFrame::Kind::kControl, data, length, false, opcode);
  }

  // --- what was sent
  std::vector<RecordedFrame> frames() const {
    std::lock_guard lock(lock_);
    return frames_;
  }
  // The data of the text frames, in the order sent.
  std::vector<std::string> texts() const {
    std::lock_guard lock(lock_);
    std::vector<std::string> out;
    for (const RecordedFrame& f : frames_)
      if (f.kind == RecordedFrame::Kind::kText) out.push_back(f.data);
    return out;
  }
  size_t frame_count() const {
    std::lock_guard lock(lock_);
    return frames_.size();
  }
  void clear() {
    std::lock_guard lock(lock_);
    frames_.clear();
  }
  // Waits until at least count text frames were sent; false on timeout.
  bool WaitForTexts(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    std::unique_lock lock(lock_);
    return sent_.wait_for(lock, timeout, [&] {
      return static_cast<size_t>(std::count_if(frames_.begin(), frames_.end(), [](const RecordedFrame& f) {
               return f.kind == RecordedFrame::Kind::kText;
             })) >= count;
    });
  }

  const SocketRequest& request() const { return request_; }
  SocketUtils::ClientSocket::stProxyDetails proxy() const {
    std::lock_guard lock(lock_);
    return proxy_;
  }
  int proxy_calls() const {
    std::lock_guard lock(lock_);
    return proxyCalls_;
  }
  int connect_calls() const { return connectCalls_; }
  int close_calls() const { return closeCalls_; }
  unsigned long refs() const { return refs_; }

  // --- behaviour
  void set_connect_result(bool ok) { connectResult_ = ok; }
  // -2 answers each send with its length, as a healthy socket does.
  void set_send_result(int result) { sendResult_ = result; }

  // --- playing the server: calls the handlers registered on this socket.
  bool has_handlers() const { return onText_.load() != nullptr; }
  void DeliverText(const std::string& text) {
    if (auto handler = onText_.load()) {
      std::vector<char> copy(text.begin(), text.end());
      copy.push_back('\0');
      handler(copy.data(), static_cast<int>(text.size()), request_.context);
    }
  }
  void DeliverBinary(const std::string& bytes) {
    if (auto handler = onBinary_.load()) {
      std::vector<unsigned char> copy(bytes.begin(), bytes.end());
      handler(copy.data(), static_cast<int>(copy.size()), request_.context);
    }
  }
  void DeliverConnect() {
    if (auto handler = onConnect_.load()) handler(request_.context);
  }
  void DeliverError(int code, std::string text) {
    if (auto handler = onError_.load()) handler(code, text.data(), request_.context);
  }
  void DeliverClose(int code = 1000, std::string reason = std::string()) {
    connected_ = false;
    if (auto handler = onClose_.load()) handler(code, reason.data(), request_.context);
  }

  // --- sockets alive now (a reference each), oldest first.
  static std::vector<Ptr> Live() {
    std::lock_guard lock(detail::registry_lock());
    std::vector<Ptr> out;
    for (RecordingSocket* s : detail::registry())
      if (s->TryAddRef()) out.push_back(Ptr::Adopt(s));
    return out;
  }
  static size_t LiveCount() { return Live().size(); }
  static Ptr Newest() {
    std::vector<Ptr> live = Live();
    return live.empty() ? Ptr() : live.back();
  }

 private:
  ~RecordingSocket() override {
    std::lock_guard lock(detail::registry_lock());
    auto& sockets = detail::registry();
    sockets.erase(std::remove(sockets.begin(), sockets.end(), this), sockets.end());
  }

  // A socket on its way to deletion must not be revived by Live().
  bool TryAddRef() {
    unsigned long n = refs_.load();
    while (n != 0)
      if (refs_.compare_exchange_weak(n, n + 1)) return true;
    return false;
  }

  int Record(RecordedFrame::Kind kind, const void* data, int length, bool flag, int opcode) {
    RecordedFrame frame;
    frame.kind = kind;
    if (data && length > 0) frame.data.assign(static_cast<const char*>(data), static_cast<size_t>(length));
    frame.flag = flag;
    frame.opcode = opcode;
    {
      std::lock_guard lock(lock_);
      frames_.push_back(std::move(frame));
    }
    sent_.notify_all();
    const int result = sendResult_.load();
    return result == -2 ? length : result;
  }

  const SocketRequest request_;
  std::atomic<unsigned long> refs_{1};
  std::atomic<bool> connected_{false};
  std::atomic<bool> connectResult_;
  std::atomic<int> sendResult_{-2};
  std::atomic<int> connectCalls_{0};
  std::atomic<int> closeCalls_{0};
  mutable std::mutex lock_;
  mutable std::condition_variable sent_;
  std::vector<RecordedFrame> frames_;
  SocketUtils::ClientSocket::stProxyDetails proxy_;
  int proxyCalls_ = 0;
};

// For AsyncWsHandler::SetSocketFactory.
inline AsyncWsHandler::SocketPtr MakeRecordingSocket(const std::string& host, int port, bool secure,
                                                     unsigned long context, const std::string& path,
                                                     const std::string& logPath) {
  return AsyncWsHandler::SocketPtr::Adopt(new RecordingSocket({host, port, secure, context, path, logPath}));
}

// For AsyncWsHandler::SetSocketFactory: the factory fails, as ClientSocket
// does when it cannot make a socket.
inline AsyncWsHandler::SocketPtr MakeNoSocket(const std::string&, int, bool, unsigned long, const std::string&,
                                              const std::string&) {
  return {};
}

// Makes every handler built while it lives get a recording socket; restores
// ClientSocket's own sockets and the default Connect() result afterwards.
class ScopedRecordingFactory {
 public:
  explicit ScopedRecordingFactory(bool connectResult = true) {
    detail::default_connect_result() = connectResult;
    AsyncWsHandler::SetSocketFactory(&MakeRecordingSocket);
  }
  ScopedRecordingFactory(const ScopedRecordingFactory&) = delete;
  ScopedRecordingFactory& operator=(const ScopedRecordingFactory&) = delete;
  ~ScopedRecordingFactory() {
    AsyncWsHandler::SetSocketFactory(nullptr);
    detail::default_connect_result() = true;
  }
};

// Puts a handler with a recording socket into g_wsHandler, as a successful
// connection attempt would, and puts the previous handler back at the end.
class RecordingWsSession {
 public:
  explicit RecordingWsSession(std::string host = "server.test", int port = 443, bool secure = true,
                              std::string path = "tools/HK_NATIVE")
      : saved_(g_wsHandler) {
    {
      ScopedRecordingFactory factory;
      AsyncWsHandler handler(std::move(host), secure, port, std::move(path), 0);
      socket_ = RecordingSocket::Newest();
      g_wsHandler = handler;
    }
  }
  RecordingWsSession(const RecordingWsSession&) = delete;
  RecordingWsSession& operator=(const RecordingWsSession&) = delete;
  ~RecordingWsSession() { g_wsHandler = saved_; }

  RecordingSocket& socket() const { return *socket_.get(); }
  std::vector<std::string> texts() const { return socket_->texts(); }
  std::vector<RecordedFrame> frames() const { return socket_->frames(); }
  void clear() const { socket_->clear(); }

 private:
  AsyncWsHandler saved_;
  RecordingSocket::Ptr socket_;
};

}  // namespace hk::test
