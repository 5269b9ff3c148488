// FILETIME as one 64-bit count of 100-ns units.
#pragma once
#include <windows.h>

#include <cstdint>

namespace hk {

inline uint64_t FileTimeTicks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace hk
