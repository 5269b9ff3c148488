#include "host/host_args.h"

#include <charconv>
#include <map>

namespace hk::host {
namespace {

bool parse_port(const std::string& text, int& port) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

const char* Usage() {
  return "usage: hostkeeper-host.exe --host HOST --port PORT [--secure] [--product-server]\n"
         "         [--client-id ID] [--client-name NAME] [--resource-id ID] [--session-id ID]\n"
         "         [--customer-id ID] [--device-id ID]\n"
         "         [--proxy-host HOST --proxy-port PORT [--proxy-user USER --proxy-password PASSWORD]]\n"
         "       hostkeeper-host.exe --version | --help\n"
         "Connects to the server and serves its requests until it says to stop.\n";
}

ParseResult ParseHostArgs(const std::vector<std::string>& argv) {
  ParseResult result;
  HostArgs args;
  const std::map<std::string, std::string*> texts = {
      {"--host", &args.host},           {"--client-id", &args.clientId},     {"--client-name", &args.clientName},
      {"--resource-id", &args.resourceId}, {"--session-id", &args.sessionId}, {"--customer-id", &args.customerId},
      {"--device-id", &args.deviceId},  {"--proxy-host", &args.proxyHost},   {"--proxy-user", &args.proxyUser},
      {"--proxy-password", &args.proxyPassword},
  };
  bool havePort = false, haveProxyPort = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      result.help = true;
      return result;
    }
    if (arg == "--version") {
      result.version = true;
      return result;
    }
    if (arg == "--secure") {
      args.secure = true;
      continue;
    }
    if (arg == "--product-server") {
      args.productServer = true;
      continue;
    }
    const bool isPort = arg == "--port" || arg == "--proxy-port";
    const auto text = texts.find(arg);
    if (!isPort && text == texts.end()) {
      result.error = "unknown argument: " + arg;
      return result;
    }
    if (i + 1 >= argv.size()) {
      result.error = arg + " needs a value";
      return result;
    }
    const std::string& value = argv[++i];
    if (isPort) {
      int& port = arg == "--port" ? args.port : args.proxyPort;
      if (!parse_port(value, port)) {
        result.error = arg + " must be a number from 1 to 65535, not '" + value + "'";
        return result;
      }
      (arg == "--port" ? havePort : haveProxyPort) = true;
    } else {
      *text->second = value;
    }
  }
  if (args.host.empty()) result.error = "--host is required";
  else if (!havePort) result.error = "--port is required";
  else if (args.proxyHost.empty() != !haveProxyPort) result.error = "--proxy-host and --proxy-port go together";
  else if ((!args.proxyUser.empty() || !args.proxyPassword.empty()) && args.proxyHost.empty())
    result.error = "--proxy-user and --proxy-password need --proxy-host";
  if (result.error.empty()) result.args = args;
  return result;
}

}  // namespace hk::host
