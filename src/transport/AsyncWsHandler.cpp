#include "transport/AsyncWsHandler.h"

#include <cstring>
#include <string>

#include "core/Chostkeeper.h"
#include "core/globals.h"
#include "core/text.h"
#include "infra/log.h"

using SocketUtils::ClientSocket::AsyncSocket;
using SocketUtils::ClientSocket::kOpcodePing;
using SocketUtils::ClientSocket::stProxyDetails;

namespace {

AsyncWsHandler::SocketPtr create_client_socket(const std::string& host, int port, bool secure,
                                               unsigned long context, const std::string& path,
                                               const std::string& logPath) {
  return AsyncSocket::CreateAsyncSocket(1, host, port, secure, context, path, logPath, stProxyDetails{});
}

std::atomic<AsyncWsHandler::SocketFactory> g_socketFactory{&create_client_socket};

std::string socket_log_path() {
  return IsAgentWorkingDirectory() ? "logs\\WsAsyncSocket.log" : "log\\WsAsyncSocket.log";
}

}  // namespace

AsyncWsHandler::AsyncWsHandler() = default;

AsyncWsHandler::AsyncWsHandler(std::string host, bool secure, int port, std::string path, unsigned long context)
    : host_(std::move(host)), port_(port), secure_(secure), path_(std::move(path)), context_(context) {
  logPath_ = socket_log_path();
  Initialize();
  RegisterEventHandlers();
}

AsyncWsHandler::AsyncWsHandler(std::string host, unsigned long context)
    : host_(std::move(host)), context_(context), logPath_(socket_log_path()) {}

AsyncWsHandler::AsyncWsHandler(std::string host, unsigned long context, bool secure)
    : host_(std::move(host)), secure_(secure), context_(context), logPath_(socket_log_path()) {}

AsyncWsHandler::AsyncWsHandler(const AsyncWsHandler& other)
    : host_(other.host_),
      port_(other.port_),
      secure_(other.secure_),
      proxyHost_(other.proxyHost_),
      proxyPort_(other.proxyPort_),
      proxyUser_(other.proxyUser_),
      proxyPassword_(other.proxyPassword_),
      path_(other.path_),
      context_(other.context_),
      socket_(other.Socket()),
      logPath_(other.logPath_) {}

AsyncWsHandler& AsyncWsHandler::operator=(const AsyncWsHandler& other) {
  if (this == &other) return *this;
  host_ = other.host_;
  port_ = other.port_;
  secure_ = other.secure_;
  proxyHost_ = other.proxyHost_;
  proxyPort_ = other.proxyPort_;
  proxyUser_ = other.proxyUser_;
  proxyPassword_ = other.proxyPassword_;
  path_ = other.path_;
  context_ = other.context_;
  logPath_ = other.logPath_;
  SocketPtr incoming = other.Socket();
  {
    std::lock_guard lock(socketLock_);
    std::swap(socket_, incoming);
  }
  // incoming now holds the old socket; it is released here, outside the lock.
  return *this;
}

AsyncWsHandler::~AsyncWsHandler() = default;

AsyncWsHandler::SocketPtr AsyncWsHandler::Socket() const {
  std::lock_guard lock(socketLock_);
  return socket_;
}

void AsyncWsHandler::SetSocketFactory(SocketFactory factory) {
  g_socketFactory = factory ? factory : &create_client_socket;
}

bool AsyncWsHandler::Initialize() {
  WriteLogLevel0(L"%s: Initializing Async Socket with context - %d, logger path %s", L"AsyncWsHandler::Initialize",
                 static_cast<int>(context_), hk::Widen(logPath_).c_str());
  SocketPtr created;
  try {
    created = g_socketFactory.load()(host_, port_, secure_, context_, path_, logPath_);
  } catch (...) {
    created.reset();
  }
  const bool ok = static_cast<bool>(created);
  {
    std::lock_guard lock(socketLock_);
    std::swap(socket_, created);
  }
  if (ok) return true;
  WriteLog(L"AsyncWsHandler::Problem in Initializing Async Socket");
  return false;
}

void AsyncWsHandler::RegisterEventHandlers() {
  const SocketPtr socket = Socket();
  if (!socket) {
    WriteLog(L"AsyncWsHandler::RegisterEventHandlers : Socket pointing to NULL");
    return;
  }
  socket->registerConnectHandler(&OnConnect);
  socket->registerTextMessageHandler(&OnTextMsg);
  socket->registerBinaryMessageHandler(&OnBinaryMsg);
  socket->registerSendCompleteHandler(&OnSendComplete);
  socket->registerErrorHandler(&OnError);
  socket->registerCloseHandler(&OnClose);
  WriteLog(L"AsyncWsHandler::RegisterEventHandlers - Event handlers registered successfully");
}

void AsyncWsHandler::SetLogPath(std::string logPath) { logPath_ = std::move(logPath); }

void AsyncWsHandler::SetSecureMode(bool secure) { secure_ = secure; }

void AsyncWsHandler::InitializeProxyDetails(std::string proxyHost, int proxyPort, std::string proxyUser,
                                            std::string proxyPassword) {
  proxyHost_ = std::move(proxyHost);
  proxyPort_ = proxyPort;
  proxyUser_ = std::move(proxyUser);
  proxyPassword_ = std::move(proxyPassword);
  if (const SocketPtr socket = Socket()) socket->SetProxyDetails(proxyHost_, proxyPort_, proxyUser_, proxyPassword_);
}

bool AsyncWsHandler::ConnectDirectly(bool flag) {
  WriteLogA("AsyncWsHandler::ConnectDirectly:\tConnecting");
  const SocketPtr socket = Socket();
  return socket ? socket->Connect(flag) : false;
}

bool AsyncWsHandler::ConnectViaProxy(bool flag, std::string proxyHost, int proxyPort, std::string proxyUser,
                                     std::string proxyPassword) {
  const SocketPtr socket = Socket();
  if (!socket) return false;
  InitializeProxyDetails(std::move(proxyHost), proxyPort, std::move(proxyUser), std::move(proxyPassword));
  return socket->Connect(flag);
}

int AsyncWsHandler::SendText(const char* text, bool flag) {
  const SocketPtr socket = Socket();
  if (!socket) return -1;
  return socket->SendTextFrame(text, text ? static_cast<int>(std::strlen(text)) : 0, flag);
}

int AsyncWsHandler::SendText(const char* data, int length, bool flag) {
  const SocketPtr socket = Socket();
  return socket ? socket->SendTextFrame(data, length, flag) : -1;
}

int AsyncWsHandler::SendBytes(const void* data, int length, bool flag) {
  const SocketPtr socket = Socket();
  return socket ? socket->SendBinaryFrame(data, length, flag) : -1;
}

int AsyncWsHandler::SendTextLPSTR(const char* text) {
  if (!Socket()) return -1;
  // The round trip through UTF-16 turns invalid sequences into U+FFFD, so the
  // server always receives valid UTF-8.
  const std::string clean = hk::ToUtf8(hk::FromUtf8(text ? text : ""));
  return SendText(clean.c_str(), true);
}

int AsyncWsHandler::PingServer(const char* text) {
  const SocketPtr socket = Socket();
  if (!socket) return -1;
  return socket->SendControlFrame(text, text ? static_cast<int>(std::strlen(text)) : 0, kOpcodePing);
}

bool AsyncWsHandler::Close(bool flag) {
  const SocketPtr socket = Socket();
  if (!socket) return false;
  socket->Close(flag);
  return true;
}

// The callbacks run on the socket's thread: nothing may escape them.

void AsyncWsHandler::OnConnect(unsigned long) {
  try {
    WriteLog(L"OnConnect || AsyncWsHandler::OnConnect ||");
  } catch (...) {
  }
}

void AsyncWsHandler::OnTextMsg(char* text, int, unsigned long) {
  try {
    WriteLog(L"Data recived from Server || AsyncWsHandler::OnTextMsg ||");
    Chostkeeper::connect(std::string(text ? text : ""));
  } catch (...) {
    WriteLog(L"Exception while handling a message || AsyncWsHandler::OnTextMsg ||");
  }
}

void AsyncWsHandler::OnBinaryMsg(unsigned char*, int, unsigned long) {
  try {
    WriteLog(L"OnBinaryMsg || AsyncWsHandler::OnBinaryMsg ||");
  } catch (...) {
  }
}

void AsyncWsHandler::OnSendComplete(void*, int, unsigned long) {
  try {
    WriteLog(L"OnSendComplete || AsyncWsHandler::OnSendComplete ||");
  } catch (...) {
  }
}

void AsyncWsHandler::OnError(int, char*, unsigned long) {
  try {
    WriteLog(L"OnError || AsyncWsHandler::OnError ||");
  } catch (...) {
  }
}

void AsyncWsHandler::OnClose(int, char*, unsigned long) {
  g_reconnect = 1;
  try {
    WriteLog(L"OnClose || AsyncWsHandler::OnClose ||");
  } catch (...) {
  }
}
