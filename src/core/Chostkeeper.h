// The agent's entry to the library: make_connect serves requests until the
// server stops it, the connection cannot be restored, or an invalid request
// arrives.
#pragma once
#include <json/value.h>

#include <memory>
#include <string>

#include "ClientSocket.h"
#include "core/api.h"

// Proxy and connection settings from the agent. Only the proxy host, port and
// the two credentials are used; the rest travels along unread.
struct HOSTKEEPER_API ConnectionVariable {
  int word0 = 0;
  int word1 = 0;
  std::wstring proxyHost;
  int proxyPort = 0;
  std::wstring proxyUser;
  std::wstring proxyPassword;
  std::wstring word6, word7;
  int word8 = 0;
  std::wstring word9, word10, word11, word12, word13;
  int word14 = 0, word15 = 0, word16 = 0;
  std::wstring word17, word18;
  int word19 = 0, word20 = 0, word21 = 0, word22 = 0, word23 = 0;
  std::wstring word24;
  int word25 = 0;
};

class HOSTKEEPER_API Chostkeeper {
 public:
  Chostkeeper();
  Chostkeeper(const Chostkeeper& other);
  Chostkeeper& operator=(const Chostkeeper& other);
  ~Chostkeeper();

  void make_connect(ConnectionVariable cv, std::string host, std::string clientId, std::string sessionId,
                    std::string clientName, std::string resourceId, std::string customerId, std::string deviceId,
                    int port, bool secure);
  static void connect(std::string text);
  static int jsonRequestHandler(std::string text);
  static void wait(std::string host, std::string path, int port, ConnectionVariable cv, bool secure,
                   bool productServer);
  static int format(unsigned long errorCode, std::string& out);
  void sendHttpRequest(std::shared_ptr<HttpHandler::HttpClient>& client, std::wstring host, int& port,
                       std::string& path, const char* body, ConnectionVariable cv);

  bool productServer;
  Json::Value status;
  std::string resourceId;
  std::string customerId;
  std::string sessionId;
  unsigned char reserved;
};
