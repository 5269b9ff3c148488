#pragma once
#include <json/value.h>

#include <string>

#include "core/Chostkeeper.h"

namespace hk {

// The built-in gateway host, unless HOSTKEEPER_GATEWAY_HOST names another.
std::string GatewayHost();

// The status document of a start: the identifiers come from the keeper's
// members (make_connect's arguments of the same names only build the path).
Json::Value StartStatus(const Chostkeeper& keeper, bool connected);

Json::Value GatewayNotification(const std::string& deviceId, const std::string& sessionId,
                                const std::string& clientId);
// Posts keeper.status to the product server, or the gateway notification.
void ReportStart(Chostkeeper& keeper, const std::string& host, int port, const std::string& deviceId,
                 const std::string& sessionId, const std::string& clientId, const ConnectionVariable& cv);

}  // namespace hk
