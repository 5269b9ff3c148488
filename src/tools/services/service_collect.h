// The part of the service tool that asks the Service Control Manager.
#pragma once
#include <windows.h>

#include <optional>
#include <utility>
#include <vector>

#include "infra/win_resource.h"
#include "tools/services/service_render.h"

namespace hk::services {

// The Win32 services (drivers are never listed), in the manager's order.
class ServiceEnumeration {
 public:
  ServiceEnumeration(std::vector<BYTE> buffer, DWORD count) : buffer_(std::move(buffer)), count_(count) {}
  DWORD size() const { return count_; }
  const ENUM_SERVICE_STATUSW& operator[](DWORD i) const {
    return reinterpret_cast<const ENUM_SERVICE_STATUSW*>(buffer_.data())[i];
  }

 private:
  std::vector<BYTE> buffer_;
  DWORD count_;
};

// Every service, whatever its state. Nothing when both calls failed.
std::optional<ServiceEnumeration> EnumerateWin32Services(SC_HANDLE manager);

// The three fixed buffers one listing reuses for every service.
class QueryBuffers {
 public:
  static constexpr DWORD kSize = 4096;
  QueryBuffers();  // throws std::bad_alloc when memory is short
  BYTE* description() const { return static_cast<BYTE*>(description_.get()); }
  BYTE* configuration() const { return static_cast<BYTE*>(configuration_.get()); }
  BYTE* status() const { return static_cast<BYTE*>(status_.get()); }

 private:
  hk::unique_hlocal description_;
  hk::unique_hlocal configuration_;
  hk::unique_hlocal status_;
};

// Runs the three queries on an open service (SERVICE_QUERY_CONFIG and
// SERVICE_QUERY_STATUS) into the buffers. A query that failed leaves its
// pointer null, so nothing reads what it left in its buffer. The facts point
// into the entry and the buffers: use them before the next query.
ServiceFacts QueryServiceFacts(SC_HANDLE service, const ENUM_SERVICE_STATUSW& entry, const QueryBuffers& buffers);

}  // namespace hk::services
