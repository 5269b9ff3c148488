#pragma once
#include <json/value.h>

#include <string>

#include "core/Chostkeeper.h"

namespace hk {

// The built-in gateway host, unless HOSTKEEPER_GATEWAY_HOST names another.
std::string GatewayHost();

Json::Value GatewayNotification(const std::string& deviceId, const std::string& sessionId,
                                const std::string& clientId);
// Posts keeper.status to the product server, or the gateway notification.
void ReportStart(Chostkeeper& keeper, const std::string& host, int port, const std::string& deviceId,
                 const std::string& sessionId, const std::string& clientId, const ConnectionVariable& cv);

}  // namespace hk
