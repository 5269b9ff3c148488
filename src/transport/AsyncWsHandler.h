// The library's WebSocket session: one reference to a ClientSocket socket,
// the six callbacks registered on it, and the operations that forward to it.
#pragma once
#include <mutex>
#include <string>

#include "ClientSocket.h"
#include "core/api.h"

class HOSTKEEPER_API AsyncWsHandler {
 public:
  using SocketPtr = SocketUtils::SmartPtr<SocketUtils::ClientSocket::AsyncSocket>;
  // How a handler obtains its socket; tests put a recording socket here.
  using SocketFactory = SocketPtr (*)(const std::string& host, int port, bool secure, unsigned long context,
                                      const std::string& path, const std::string& logPath);

  AsyncWsHandler();
  AsyncWsHandler(std::string host, bool secure, int port, std::string path, unsigned long context);
  // Kept for hosts that set the rest up themselves; no socket is made.
  AsyncWsHandler(std::string host, unsigned long context);
  AsyncWsHandler(std::string host, unsigned long context, bool secure);
  AsyncWsHandler(const AsyncWsHandler& other);
  AsyncWsHandler& operator=(const AsyncWsHandler& other);
  ~AsyncWsHandler();

  void SetLogPath(std::string logPath);
  void SetSecureMode(bool secure);
  void InitializeProxyDetails(std::string proxyHost, int proxyPort, std::string proxyUser, std::string proxyPassword);

  bool ConnectDirectly(bool flag);
  bool ConnectViaProxy(bool flag, std::string proxyHost, int proxyPort, std::string proxyUser,
                       std::string proxyPassword);
  int SendText(const char* text, bool flag);
  int SendText(const char* data, int length, bool flag);
  int SendBytes(const void* data, int length, bool flag);
  int SendTextLPSTR(const char* text);
  int PingServer(const char* text);
  bool Close(bool flag);

  static void OnConnect(unsigned long context);
  static void OnTextMsg(char* text, int length, unsigned long context);
  static void OnBinaryMsg(unsigned char* data, int length, unsigned long context);
  static void OnSendComplete(void* data, int length, unsigned long context);
  static void OnError(int code, char* text, unsigned long context);
  static void OnClose(int code, char* reason, unsigned long context);

  // Null restores ClientSocket's own sockets.
  static void SetSocketFactory(SocketFactory factory);
  bool HasSocket() const { return static_cast<bool>(Socket()); }

 private:
  bool Initialize();
  void RegisterEventHandlers();
  // The process-wide handler is replaced on the agent's thread while answers
  // go out through it on the socket's thread, so the socket reference is
  // always read and written under socketLock_.
  SocketPtr Socket() const;

  std::string host_;
  int port_ = 0;
  bool secure_ = false;
  std::string proxyHost_;
  int proxyPort_ = 0;
  std::string proxyUser_;
  std::string proxyPassword_;
  std::string path_;
  unsigned long context_ = 0;
  SocketPtr socket_;
  std::string logPath_;
  mutable std::mutex socketLock_;
};
