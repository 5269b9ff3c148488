// The services connection a startup request opened, shared with the profile
// lookup while the request runs. The connection itself (hk::wbem::Connection)
// belongs to the request and must outlive this registration.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

namespace hk::startup {

// Null outside a request, or when WMI could not be reached.
IWbemServices* CurrentServices();

class ServicesInUse {
 public:
  explicit ServicesInUse(IWbemServices* services);
  ~ServicesInUse();
  ServicesInUse(const ServicesInUse&) = delete;
  ServicesInUse& operator=(const ServicesInUse&) = delete;

 private:
  IWbemServices* previous_;
};

}  // namespace hk::startup
