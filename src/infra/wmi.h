// COM set-up and the connection to WMI's "ROOT\CIMV2" namespace. The class
// keeps nothing: each step hands its interface to the caller, which passes it
// on to the next step and finally to a query (infra/wmi_query.h), which
// releases everything and leaves COM.
//
// Every step takes what the step before produced and does nothing when that
// is null, so a caller may run the whole sequence and only look at the end:
// a failing step has already logged, released what it was given and left COM.
//
// Consumers do not run the steps by hand: hk::wbem::Open runs all four and
// hands back a Connection, which a query (RunQuery) consumes:
//   wmi local;  // or g_objWmiHandler
//   hk::wbem::RunQuery(hk::wbem::Open(local), L"SELECT ...", texts, options, on_row);
#pragma once
#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

#include <utility>

#include "infra/win_resource.h"

namespace hk::wbem {

// The services connection and its locator, ready for a query, or empty when a
// step failed (the step has logged, released and left COM). A connection that
// is never queried leaves COM when it goes.
class Connection {
 public:
  Connection() = default;
  Connection(com_ptr<IWbemServices> services, com_ptr<IWbemLocator> locator)
      : services_(std::move(services)), locator_(std::move(locator)) {}
  Connection(Connection&& other) noexcept = default;
  Connection& operator=(Connection&& other) noexcept {
    if (this != &other) {
      Close();
      services_ = std::move(other.services_);
      locator_ = std::move(other.locator_);
    }
    return *this;
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { Close(); }

  explicit operator bool() const { return services_ != nullptr; }
  IWbemServices* services() const { return services_.Get(); }
  // Services, locator, then the query's enumerator when given, then COM: the
  // order every query ends in.
  void Close(com_ptr<IEnumWbemClassObject> enumerator = {});

 private:
  com_ptr<IWbemServices> services_;
  com_ptr<IWbemLocator> locator_;
};

}  // namespace hk::wbem

class wmi {
 public:
  wmi();

  // CoInitializeEx (multithreaded) and CoInitializeSecurity; failures are
  // logged and do not stop the sequence. Returns CoInitializeSecurity's result.
  HRESULT ini_com();
  // Null after a logged failure (COM already left).
  hk::com_ptr<IWbemLocator> create_instance();
  // Null after a logged failure; the locator is then released and COM left.
  hk::com_ptr<IWbemServices> connect(hk::com_ptr<IWbemLocator>& locator);
  // Proxy security on the connection. False after a logged failure, with
  // both interfaces released and COM left.
  bool security(hk::com_ptr<IWbemServices>& services, hk::com_ptr<IWbemLocator>& locator);

  // The local user accounts (tools/users). *status receives "false" (no
  // account read, or no connection), "error" (an exception was caught), or
  // the response text, a heap text the caller sends and frees. 1 when an
  // account was read, else 0.
  int request(hk::wbem::Connection connection, char** status);
};

// The process-wide instance, used by the local users tool.
extern wmi g_objWmiHandler;

namespace hk::wbem {
// ini_com, create_instance, connect and security on w, with their log lines.
Connection Open(wmi& w);

// Makes the WMI locator. Tests point it at a fake; production never changes it.
using LocatorFactory = HRESULT (*)(IWbemLocator** locator);
extern LocatorFactory g_locatorFactory;
HRESULT CreateSystemLocator(IWbemLocator** locator);

// Balances the CoInitializeEx of ini_com on this thread: once per successful
// ini_com, nothing when it failed (another apartment's COM is not ours to end).
void LeaveCom();

}  // namespace hk::wbem
