// "Call once for the size, then again": the first call gets a small buffer;
// when it fails (too small, or any other reason) the call is repeated once
// with the size it reported plus some slack, in case the data grew between
// the two calls.
#pragma once
#include <windows.h>

#include <optional>
#include <vector>

namespace hk::services {

// fill(buffer, size, &needed) returns whether it filled the buffer and sets
// needed to the byte count it wants when it did not. The buffer comes from
// operator new, so it is aligned for the structures the data holds. Only the
// data of a call that succeeded is returned.
template <typename Fill>
std::optional<std::vector<BYTE>> CallGrowing(DWORD firstSize, DWORD slack, Fill fill) {
  std::vector<BYTE> buffer(firstSize);
  DWORD needed = 0;
  if (fill(buffer.data(), firstSize, &needed)) return buffer;
  if (needed > MAXDWORD - slack) return std::nullopt;
  const DWORD size = needed + slack;
  buffer.assign(size, 0);
  needed = 0;
  if (!fill(buffer.data(), size, &needed)) return std::nullopt;
  return buffer;
}

}  // namespace hk::services
