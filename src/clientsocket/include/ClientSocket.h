// ClientSocket.dll: the asynchronous WebSocket client and the HTTP client
// the library talks to its servers with. Both DLLs are built by the same
// toolchain, so standard strings and shared pointers may cross between them;
// exceptions never do.
#pragma once
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#ifdef CLIENTSOCKET_EXPORTS
#define CLIENTSOCKET_API __declspec(dllexport)
#else
#define CLIENTSOCKET_API __declspec(dllimport)
#endif

namespace SocketUtils {

// Intrusive reference-counted pointer over AddRef/Release.
template <typename T>
class SmartPtr {
 public:
  SmartPtr() noexcept = default;
  // Adopts a reference the caller already holds.
  static SmartPtr Adopt(T* p) noexcept {
    SmartPtr s;
    s.p_ = p;
    return s;
  }
  SmartPtr(const SmartPtr& o) noexcept : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  SmartPtr(SmartPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  SmartPtr& operator=(SmartPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~SmartPtr() { reset(); }
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

namespace ClientSocket {

struct stProxyDetails {
  std::string host;
  std::string user;
  std::string password;
  int port = 0;
};

using ConnectHandler = void (*)(unsigned long context);
using TextMessageHandler = void (*)(char* text, int length, unsigned long context);
using BinaryMessageHandler = void (*)(unsigned char* data, int length, unsigned long context);
using SendCompleteHandler = void (*)(void* data, int length, unsigned long context);
using ErrorHandler = void (*)(int code, char* text, unsigned long context);
using CloseHandler = void (*)(int code, char* reason, unsigned long context);

// WebSocket opcodes accepted by SendControlFrame.
enum : int { kOpcodeClose = 8, kOpcodePing = 9, kOpcodePong = 10 };

// The WebSocket client. Callbacks run on the connection's own receive thread,
// one at a time and in arrival order: connect first, then the messages, then
// (for a connection that ends with an error) the error and last, exactly once
// per connection, the close. A text message arrives whole, NUL-terminated,
// with its length in bytes (an embedded NUL ends it as a C string). Server
// pings are answered. No callback runs once the last reference is released.
class AsyncSocket {
 public:
  // kind 1 is the WebSocket client, the only kind there is: ws:// or, with
  // secure, wss:// to host:port, requesting "/" + path. Returns null when the
  // arguments cannot make a socket. Nothing is connected yet. The component
  // logs to logFilePath (relative to the working directory; its folder is
  // created); a proxy with a host counts as given by SetProxyDetails.
  static CLIENTSOCKET_API SmartPtr<AsyncSocket> CreateAsyncSocket(int kind, const std::string& host, int port,
                                                                  bool secure, unsigned long context,
                                                                  const std::string& path, std::string logFilePath,
                                                                  const stProxyDetails& proxy);

  // Register before Connect; a handler left unset is not called.
  void registerConnectHandler(ConnectHandler h) { onConnect_ = h; }
  void registerTextMessageHandler(TextMessageHandler h) { onText_ = h; }
  void registerBinaryMessageHandler(BinaryMessageHandler h) { onBinary_ = h; }
  void registerSendCompleteHandler(SendCompleteHandler h) { onSendComplete_ = h; }
  void registerErrorHandler(ErrorHandler h) { onError_ = h; }
  void registerCloseHandler(CloseHandler h) { onClose_ = h; }

  virtual unsigned long AddRef() = 0;
  // The last release closes the connection (close frame 1001), stops the
  // receive thread and frees the socket; no callback runs after it returns.
  // It may be called from inside a callback.
  virtual unsigned long Release() = 0;
  virtual bool IsConnected() const = 0;
  // From now on Connect goes through this proxy (CONNECT tunnel, with the
  // user and password when a user is given). Without a proxy host or port it
  // fails without trying; sockets never given a proxy connect directly.
  virtual void SetProxyDetails(std::string host, int port, std::string user, std::string password) = 0;
  // Blocks until the attempt has ended (10 s to connect, 20 s with the proxy
  // tunnel and TLS, 10 s for the upgrade); true when the connection is open,
  // also when it already was. TLS always verifies the server's certificate
  // and host name. After a connection has ended, Connect opens a new one.
  // The flag is not used.
  virtual bool Connect(bool flag) = 0;
  // flag true: close handshake (code 1000, the server's answer awaited up to
  // 3 s); false: the connection is dropped. The close callback follows; from
  // any thread but the receive thread, Close returns after it.
  virtual void Close(bool flag) = 0;
  // Safe from any thread, the receive thread included; a message goes out
  // whole as one frame, never interleaved with another. Result: the length
  // sent, or -1 (not connected, or the connection failed, which then ends).
  // flag true: the send-complete callback is called, on the sending thread,
  // with (data, length) once the message is out.
  virtual int SendTextFrame(const char* data, int length, bool flag) = 0;
  virtual int SendBinaryFrame(const void* data, int length, bool flag) = 0;
  // Ping (9) or pong (10) with up to 125 bytes; close (8) with a close
  // payload starts the close handshake as Close(true) does.
  virtual int SendControlFrame(const char* data, int length, int opcode) = 0;

 protected:
  virtual ~AsyncSocket() = default;

  std::atomic<ConnectHandler> onConnect_{nullptr};
  std::atomic<TextMessageHandler> onText_{nullptr};
  std::atomic<BinaryMessageHandler> onBinary_{nullptr};
  std::atomic<SendCompleteHandler> onSendComplete_{nullptr};
  std::atomic<ErrorHandler> onError_{nullptr};
  std::atomic<CloseHandler> onClose_{nullptr};
};

}  // namespace ClientSocket
}  // namespace SocketUtils

namespace HttpHandler {

// One HTTP(S) request at a time: SetConnection, BeginRequest, SendRequest,
// then GetResponse or the error operations. TLS verifies the server's
// certificate and host name.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // 0 after a success; the HTTP status after an answer outside 2xx; the
  // libcurl error number (below 100) when no answer came.
  virtual int GetLastErrorCode() = 0;
  virtual std::string& GetLastErrorText(std::string& out) = 0;
  // reserved1 and reserved2: connect and whole-request time-outs in seconds;
  // zero or less means 10 and 30.
  virtual void SetConnection(std::string host, int port, bool secure, std::string proxyHost, int proxyPort,
                             std::string proxyUser, std::string proxyPassword, int reserved1, int reserved2) = 0;
  // Whether requests go through the proxy of SetConnection (CONNECT tunnel for TLS).
  virtual void SetUseProxy(bool use) = 0;
  virtual void BeginRequest() = 0;
  // To http[s]://host:port + path ("/" put in front when missing). post true:
  // POST of body with the content type; false: GET. True on a 2xx answer.
  virtual bool SendRequest(std::string path, std::string body, bool post, std::string contentType) = 0;
  // The body of the last answer, also of a failed one.
  virtual void GetResponse(std::string& out) = 0;
};

}  // namespace HttpHandler

namespace ClientConnectionFactory {

// {35C0179F-F94F-4D71-85FC-D14B68518091}
inline constexpr GUID IID_HttpClient = {0x35c0179f, 0xf94f, 0x4d71, {0x85, 0xfc, 0xd1, 0x4b, 0x68, 0x51, 0x80, 0x91}};

// With IID_HttpClient stores a new client through out and returns S_OK;
// otherwise empties out and returns E_NOINTERFACE (E_INVALIDARG for a null out).
CLIENTSOCKET_API HRESULT QueryInterface(const GUID& iid, std::shared_ptr<HttpHandler::HttpClient>* out);

}  // namespace ClientConnectionFactory
