#include "tools/processes/peb.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace hk::processes {

std::optional<uint64_t> PointerAt(const BYTE* data, size_t bytesRead, size_t offset, uint32_t pointerSize) {
  if (pointerSize != 4 && pointerSize != 8) return std::nullopt;
  if (offset > bytesRead || bytesRead - offset < pointerSize) return std::nullopt;
  if (pointerSize == 4) {
    uint32_t value = 0;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
  }
  uint64_t value = 0;
  std::memcpy(&value, data + offset, sizeof value);
  return value;
}

std::wstring UnicodeStringText(const BYTE* data, size_t bytesRead, size_t declaredBytes) {
  const size_t usable = std::min(bytesRead, declaredBytes) & ~static_cast<size_t>(1);
  std::wstring text(usable / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data, usable);
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return text;
}

namespace {

constexpr size_t kPageSize = 4096;

// Reads size bytes into a fresh buffer; the buffer keeps only what arrived.
std::optional<std::vector<BYTE>> read_block(const ReadMemoryFn& read, uint64_t address, size_t size) {
  std::vector<BYTE> buffer(size);
  size_t got = 0;
  if (!read(address, buffer.data(), size, &got)) return std::nullopt;
  buffer.resize(std::min(got, size));
  return buffer;
}

}  // namespace

std::optional<std::wstring> ReadCommandLineFromPeb(const PebLayout& layout, uint64_t pebAddress,
                                                   const ReadMemoryFn& read) {
  if (pebAddress == 0) return std::nullopt;
  const auto peb = read_block(read, pebAddress, layout.pebBytes);
  if (!peb) return std::nullopt;
  const auto parametersAddress = PointerAt(peb->data(), peb->size(), layout.parametersOffset, layout.pointerSize);
  if (!parametersAddress || *parametersAddress == 0) return std::nullopt;

  // Reading another process's memory is slow under some systems (a round
  // trip that stops the target), and the command line usually sits right
  // behind the parameters in the same pages: read on to the end of the page
  // first, and fall back to the bare parameters if that part is not readable.
  const size_t toPageEnd = kPageSize - static_cast<size_t>(*parametersAddress % kPageSize);
  std::optional<std::vector<BYTE>> parameters;
  if (toPageEnd > layout.parametersBytes) parameters = read_block(read, *parametersAddress, toPageEnd);
  if (!parameters) parameters = read_block(read, *parametersAddress, layout.parametersBytes);
  if (!parameters) return std::nullopt;

  // UNICODE_STRING: Length (+0), MaximumLength (+2), Buffer (+pointer size).
  const size_t at = layout.commandLineOffset;
  if (parameters->size() < at + 4) return std::nullopt;
  uint16_t length = 0;
  uint16_t maximumLength = 0;
  std::memcpy(&length, parameters->data() + at, sizeof length);
  std::memcpy(&maximumLength, parameters->data() + at + 2, sizeof maximumLength);
  const auto bufferAddress =
      PointerAt(parameters->data(), parameters->size(), at + layout.pointerSize, layout.pointerSize);
  if (!bufferAddress) return std::nullopt;
  if (maximumLength == 0) return std::wstring();
  if (*bufferAddress == 0) return std::nullopt;

  // Already read with the parameters?
  if (*bufferAddress >= *parametersAddress && *bufferAddress - *parametersAddress <= parameters->size() &&
      parameters->size() - (*bufferAddress - *parametersAddress) >= maximumLength) {
    const size_t offset = static_cast<size_t>(*bufferAddress - *parametersAddress);
    return UnicodeStringText(parameters->data() + offset, parameters->size() - offset, maximumLength);
  }
  auto text = read_block(read, *bufferAddress, maximumLength);
  // A MaximumLength that runs past the readable memory still leaves Length.
  if (!text && length != 0 && length < maximumLength) text = read_block(read, *bufferAddress, length);
  if (!text) return std::nullopt;
  return UnicodeStringText(text->data(), text->size(), maximumLength);
}

}  // namespace hk::processes
