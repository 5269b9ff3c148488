// Reading a process's command line out of its environment block (PEB) through
// a memory reader, so the same walk serves native reads, the WOW64 64-bit
// reads of a 32-bit build, and fakes in tests.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace hk::processes {

// Where the command line hangs in one pointer size's PEB.
struct PebLayout {
  uint32_t parametersOffset;   // ProcessParameters pointer within the PEB
  uint32_t pebBytes;           // bytes of the PEB read
  uint32_t commandLineOffset;  // CommandLine UNICODE_STRING within the parameters
  uint32_t parametersBytes;    // bytes of the parameters read
  uint32_t pointerSize;        // 4 or 8; also where Buffer sits in the UNICODE_STRING
};
inline constexpr PebLayout kPeb64Layout{0x20, 0x28, 0x70, 0x80, 8};
inline constexpr PebLayout kPeb32Layout{0x10, 0x18, 0x40, 0x50, 4};

// Copies up to size bytes at address of the target into buffer; bytesRead
// tells how many arrived. False when the read failed.
using ReadMemoryFn = std::function<bool(uint64_t address, void* buffer, size_t size, size_t* bytesRead)>;

// A pointer of pointerSize bytes at offset, or nothing when it lies (even in
// part) beyond the bytesRead bytes that are really there.
std::optional<uint64_t> PointerAt(const BYTE* data, size_t bytesRead, size_t offset, uint32_t pointerSize);

// The text of a UNICODE_STRING buffer. declaredBytes comes from the target
// (its MaximumLength) and is trusted only as far as bytesRead: the text is
// cut there, at an odd byte, and at the first NUL.
std::wstring UnicodeStringText(const BYTE* data, size_t bytesRead, size_t declaredBytes);

// Walks PEB -> ProcessParameters -> CommandLine. Nothing when a read fails or
// a pointer is missing.
std::optional<std::wstring> ReadCommandLineFromPeb(const PebLayout& layout, uint64_t pebAddress,
                                                   const ReadMemoryFn& read);

}  // namespace hk::processes
