// Times a service listing through Service::get_details against a bare
// enumeration that asks the Service Control Manager the same questions and
// builds nothing. Usage: services_bench [rounds]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/messages.h"
#include "tools/services/Service.h"

namespace {

double now_ms() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The same calls as the listing, results thrown away. Returns the number of
// services described.
DWORD bare_enumeration() {
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  if (!manager) return 0;
  DWORD needed = 0, count = 0, resume = 0;
  std::vector<BYTE> entries(sizeof(ENUM_SERVICE_STATUSW));
  if (!::EnumServicesStatusW(manager, SERVICE_WIN32, SERVICE_STATE_ALL,
                             reinterpret_cast<ENUM_SERVICE_STATUSW*>(entries.data()),
                             static_cast<DWORD>(entries.size()), &needed, &count, &resume)) {
    entries.assign(needed + sizeof(ENUM_SERVICE_STATUSW), 0);
    resume = 0;
    if (!::EnumServicesStatusW(manager, SERVICE_WIN32, SERVICE_STATE_ALL,
                               reinterpret_cast<ENUM_SERVICE_STATUSW*>(entries.data()),
                               static_cast<DWORD>(entries.size()), &needed, &count, &resume)) {
      count = 0;
    }
  }
  HLOCAL description = ::LocalAlloc(LPTR, 4096);
  HLOCAL config = ::LocalAlloc(LPTR, 4096);
  HLOCAL status = ::LocalAlloc(LPTR, 4096);
  DWORD described = 0;
  const auto* list = reinterpret_cast<const ENUM_SERVICE_STATUSW*>(entries.data());
  for (DWORD i = 0; i < count; ++i) {
    SC_HANDLE service = ::OpenServiceW(manager, list[i].lpServiceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (!service) continue;
    ::QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, static_cast<BYTE*>(description), 4096, &needed);
    ::QueryServiceConfigW(service, static_cast<QUERY_SERVICE_CONFIGW*>(config), 4096, &needed);
    ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, static_cast<BYTE*>(status), 4096, &needed);
    ::CloseServiceHandle(service);
    ++described;
  }
  ::LocalFree(description);
  ::LocalFree(config);
  ::LocalFree(status);
  ::CloseServiceHandle(manager);
  return described;
}

bool listing() {
  char falseWord[] = "false";
  char* outcome = falseWord;
  Service::get_details(&outcome, "bench");
  if (outcome == falseWord) return false;
  hk::FreeText(outcome);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  if (rounds <= 0) return 2;
  const DWORD services = bare_enumeration();  // warm-up
  if (!listing()) {
    std::fprintf(stderr, "services_bench: the listing built nothing\n");
    return 1;
  }
  double bare = 0, listed = 0;
  // Interleaved, so drift in the service manager's speed hits both alike.
  for (int i = 0; i < rounds; ++i) {
    double t = now_ms();
    bare_enumeration();
    bare += now_ms() - t;
    t = now_ms();
    listing();
    listed += now_ms() - t;
  }
  std::printf("services described:       %lu\n", static_cast<unsigned long>(services));
  std::printf("rounds:                   %d\n", rounds);
  std::printf("bare enumeration:         %.2f ms per round\n", bare / rounds);
  std::printf("Service::get_details:     %.2f ms per round\n", listed / rounds);
  std::printf("ratio listing / bare:     %.2f (target 1.5 or less)\n", bare > 0 ? listed / bare : 0.0);
  std::printf("{\"bare_ms\": %.3f, \"listing_ms\": %.3f, \"services\": %lu}\n", bare / rounds, listed / rounds,
              static_cast<unsigned long>(services));
  return 0;
}
