// Trust anchors for libcurl's Schannel backend. Left to Schannel's own
// validation, Wine accepts any server certificate, so the component hands
// libcurl the machine's trusted roots itself and lets it check the chain and
// the host name against exactly those.
#pragma once
#include <string>

namespace clientsocket {

// PEM text of every certificate in the local machine's ROOT and AuthRoot
// stores and the current user's ROOT store, each once. Empty when no store
// could be read (error then says why).
std::string TrustedRootsPem(std::string* error);

}  // namespace clientsocket
