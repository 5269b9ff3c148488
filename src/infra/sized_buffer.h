// "Call once for the size, then again", written once. Windows answers a
// buffer that is too small with the size it wants; the data can grow between
// two calls (a service registered, a token changed), so the call is repeated
// with the new size a bounded number of times instead of giving up.
#pragma once
#include <windows.h>

#include <optional>
#include <vector>

namespace hk {

// fill(buffer, size, &needed) returns whether it filled the buffer; when it
// did not, needed is the byte count it wants (0 or no more than it was given:
// a failure that a larger buffer does not cure). The first call gets
// firstSize bytes (0 is fine: a pure size query), later ones needed + slack.
// The buffer comes from operator new, so it is aligned for the structures the
// data holds. Only the data of a call that succeeded is returned.
template <typename Fill>
std::optional<std::vector<BYTE>> FillGrowing(DWORD firstSize, Fill fill, DWORD slack = 0, int maxCalls = 4) {
  std::vector<BYTE> buffer(firstSize);
  for (int call = 0; call < maxCalls; ++call) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    DWORD needed = 0;
    if (fill(buffer.empty() ? nullptr : buffer.data(), size, &needed)) return buffer;
    if (needed <= size || needed > MAXDWORD - slack) return std::nullopt;
    buffer.assign(needed + slack, 0);
  }
  return std::nullopt;
}

}  // namespace hk
