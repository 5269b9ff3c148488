// The agent host's command line.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace hk::host {

struct HostArgs {
  std::string host;
  int port = 0;
  bool secure = false;
  bool productServer = false;
  std::string clientId, clientName, resourceId, sessionId, customerId, deviceId;
  std::string proxyHost;
  int proxyPort = 0;
  std::string proxyUser, proxyPassword;
};

struct ParseResult {
  std::optional<HostArgs> args;  // empty: help or version asked for, or an error
  bool help = false;
  bool version = false;
  std::string error;  // set when the command line is not usable
};

ParseResult ParseHostArgs(const std::vector<std::string>& argv);
const char* Usage();

}  // namespace hk::host
