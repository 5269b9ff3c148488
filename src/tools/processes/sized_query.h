// The "ask for the size, then fill a buffer of that size" pattern that token
// queries and version resources share.
#pragma once
#include <windows.h>

#include <cstddef>
#include <optional>
#include <vector>

namespace hk::processes {

// measure() returns the byte count the data needs (0 when it cannot tell);
// fill(buffer, size) returns whether it filled the buffer. With a first guess
// the fill is tried at that size before asking, which saves a call where the
// size is nearly always known. The buffer comes from operator new, so it is
// aligned for any structure the data holds.
template <typename Measure, typename Fill>
std::optional<std::vector<BYTE>> QuerySized(Measure measure, Fill fill, size_t firstGuess = 0) {
  if (firstGuess != 0) {
    std::vector<BYTE> buffer(firstGuess);
    if (fill(buffer.data(), static_cast<DWORD>(buffer.size()))) return buffer;
  }
  const size_t size = static_cast<size_t>(measure());
  if (size == 0) return std::nullopt;
  std::vector<BYTE> buffer(size);
  if (!fill(buffer.data(), static_cast<DWORD>(size))) return std::nullopt;
  return buffer;
}

}  // namespace hk::processes
