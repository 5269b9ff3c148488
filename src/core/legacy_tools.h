// Tools 1 to 3 and their exit codes, answered with the legacy envelopes.
#pragma once
#include "core/request.h"

namespace hk {

// Serves the request by its (tool, code) route; a code the tool does not
// serve is ignored without an answer. fromJsonHandler: the request came
// through the formatter tools' handler, which also logs the listing's text.
void ServeLegacyRequest(const Request& request, bool fromJsonHandler);

// The library stops serving: the exit requests and an invalid request.
void StopServing();

}  // namespace hk
