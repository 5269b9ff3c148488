// COM set-up and the connection to WMI's "ROOT\CIMV2" namespace. The class
// keeps nothing: each step hands its interface to the caller, which passes it
// on to the next step and finally to a query (infra/wmi_query.h), which
// releases everything and leaves COM.
//
// Every step takes what the step before produced and does nothing when that
// is null, so a caller may run the whole sequence and only look at the end:
// a failing step has already logged, released what it was given and left COM.
//
// Request 3101 (tools/users/users.h runs it as RunAccountRequest; outcome in status, see request below):
//   auto& w = g_objWmiHandler; char* status; w.ini_com(); auto loc = w.create_instance(); auto svc = w.connect(loc);
//   w.security(svc, loc); w.request(std::move(svc), std::move(loc), &status);
#pragma once
#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

#include "infra/win_resource.h"

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
  int request(hk::com_ptr<IWbemServices> services, hk::com_ptr<IWbemLocator> locator, char** status);
};

// The process-wide instance, used by the local users tool.
extern wmi g_objWmiHandler;

namespace hk::wbem {

// Makes the WMI locator. Tests point it at a fake; production never changes it.
using LocatorFactory = HRESULT (*)(IWbemLocator** locator);
extern LocatorFactory g_locatorFactory;
HRESULT CreateSystemLocator(IWbemLocator** locator);

// Balances the CoInitializeEx of ini_com on this thread: once per successful
// ini_com, nothing when it failed (another apartment's COM is not ours to end).
void LeaveCom();

}  // namespace hk::wbem
