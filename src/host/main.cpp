// A small agent host: fills a Chostkeeper from its command line and serves
// until the library's make_connect returns.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/Chostkeeper.h"
#include "core/text.h"
#include "host/host_args.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const hk::host::ParseResult parsed = hk::host::ParseHostArgs(args);
  if (parsed.help) {
    std::fputs(hk::host::Usage(), stdout);
    return 0;
  }
  if (parsed.version) {
    std::printf("hostkeeper-host %s\n", HK_VERSION);
    return 0;
  }
  if (!parsed.args) {
    std::fprintf(stderr, "hostkeeper-host: %s\n%s", parsed.error.c_str(), hk::host::Usage());
    return 2;
  }
  const hk::host::HostArgs& a = *parsed.args;

  Chostkeeper keeper;
  keeper.productServer = a.productServer;
  keeper.resourceId = a.resourceId;
  keeper.customerId = a.customerId;
  keeper.sessionId = a.sessionId;

  ConnectionVariable cv;
  cv.proxyHost = hk::Widen(a.proxyHost);
  cv.proxyPort = a.proxyPort;
  cv.proxyUser = hk::Widen(a.proxyUser);
  cv.proxyPassword = hk::Widen(a.proxyPassword);

  std::printf("hostkeeper-host: serving %s:%d\n", a.host.c_str(), a.port);
  std::fflush(stdout);
  keeper.make_connect(cv, a.host, a.clientId, a.sessionId, a.clientName, a.resourceId, a.customerId, a.deviceId,
                      a.port, a.secure);
  std::printf("hostkeeper-host: stopped\n");
  std::fflush(stdout);
  return 0;
}
