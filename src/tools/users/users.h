// Tool 3, request 3101: the local user accounts through the process-wide wmi
// instance. The outcome arrives in *status: hk::kOutcomeFalse (nothing read,
// or WMI could not be reached), hk::kOutcomeError (an exception was caught),
// or the response text, which the caller sends and frees.
#pragma once

#include "core/outcome.h"
#include "infra/wmi.h"

namespace hk::users {

// The accounts of Win32_UserAccount on the connection: the finished "3301"
// success envelope, nothing read ("false"), or an error caught.
Outcome QueryAccounts(wbem::Connection connection);
// The same through the process-wide wmi instance, as request 3101 runs it.
Outcome ListAccounts();

// The whole WMI sequence (infra/wmi.h) and wmi::request. Returns 1 when an
// account was read, else 0.
int RunAccountRequest(char** status);

}  // namespace hk::users
