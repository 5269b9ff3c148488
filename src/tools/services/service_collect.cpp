#include "tools/services/service_collect.h"

#include <new>

#include "infra/sized_buffer.h"

namespace hk::services {
namespace {

// One entry's worth: the first call only learns the size it takes.
constexpr DWORD kEntrySize = sizeof(ENUM_SERVICE_STATUSW);

hk::unique_hlocal zeroed(DWORD size) {
  hk::unique_hlocal memory(::LocalAlloc(LPTR, size));
  if (!memory) throw std::bad_alloc();
  return memory;
}

}  // namespace

std::optional<ServiceEnumeration> EnumerateWin32Services(SC_HANDLE manager) {
  DWORD count = 0;
  auto buffer = FillGrowing(
      kEntrySize,
      [&](BYTE* data, DWORD size, DWORD* needed) {
        // Each call starts from the first service, so a later one cannot skip
        // what a partial earlier call already returned.
    DWORD resume = 0;
    count = 0;
        return ::EnumServicesStatusW(manager, SERVICE_WIN32, SERVICE_STATE_ALL,
                                     reinterpret_cast<ENUM_SERVICE_STATUSW*>(data), size, needed, &count,
                                     &resume) != 0;
      },
      kEntrySize);
  if (!buffer) return std::nullopt;
  return ServiceEnumeration(std::move(*buffer), count);
}

QueryBuffers::QueryBuffers() : description_(zeroed(kSize)), configuration_(zeroed(kSize)), status_(zeroed(kSize)) {}

ServiceFacts QueryServiceFacts(SC_HANDLE service, const ENUM_SERVICE_STATUSW& entry, const QueryBuffers& buffers) {
  ServiceFacts facts;
  facts.name = entry.lpServiceName;
  facts.displayName = entry.lpDisplayName;
  facts.enumeratedState = entry.ServiceStatus.dwCurrentState;
  DWORD needed = 0;
  if (::QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, buffers.description(), QueryBuffers::kSize,
                             &needed)) {
    facts.description = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(buffers.description());
  }
  if (::QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffers.configuration()),
                            QueryBuffers::kSize, &needed)) {
    facts.config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffers.configuration());
  }
  if (::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, buffers.status(), QueryBuffers::kSize, &needed)) {
    facts.status = reinterpret_cast<const SERVICE_STATUS_PROCESS*>(buffers.status());
  }
  return facts;
}

}  // namespace hk::services
