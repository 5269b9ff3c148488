// The connection attempt and the request's command texts.
#pragma once
#include <string>

#include "core/Chostkeeper.h"

class Server {
 public:
  // Tool id, request code, "requestData"."cmd" and "requestData"."type" as
  // texts; all empty when the request does not load.
  static void parsecmdJson(std::string text, std::wstring (&commands)[4]);
  // One attempt: a new g_wsHandler, direct first, then through the proxy of cv.
  static bool AttemptWsConnection(std::string host, std::string path, int port, ConnectionVariable cv, bool secure);
};
