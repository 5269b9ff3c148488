#include "core/globals.h"

std::atomic<int32_t> g_running{0};
std::atomic<int32_t> g_reconnect{0};
std::atomic<int32_t> g_stopped{0};
AsyncWsHandler g_wsHandler;
