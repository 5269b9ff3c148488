// Tool 3, request 3101: the local user accounts through the process-wide wmi
// instance. The outcome arrives in *status: hk::kOutcomeFalse (nothing read,
// or WMI could not be reached), hk::kOutcomeError (an exception was caught),
// or the response text, which the caller sends and frees.
#pragma once

namespace hk::users {

// The whole WMI sequence (infra/wmi.h) and wmi::request. Returns 1 when an
// account was read, else 0.
int RunAccountRequest(char** status);

}  // namespace hk::users
