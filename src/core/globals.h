// Process-wide state of the session. Each flag is one aligned 32-bit word,
// written whole by the socket thread and reread once a second by the agent's.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/api.h"
#include "transport/AsyncWsHandler.h"

extern HOSTKEEPER_API std::atomic<int32_t> g_running;
extern HOSTKEEPER_API std::atomic<int32_t> g_reconnect;
extern HOSTKEEPER_API AsyncWsHandler g_wsHandler;

// Set once the library has stopped serving (an exit or invalid request, a
// failed reconnection, make_connect returned); cleared by the next connection
// attempt. While set, requests that still arrive are logged and dropped.
extern std::atomic<int32_t> g_stopped;
