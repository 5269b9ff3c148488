// The PEB walk over a fake address space, for both pointer sizes, with a
// target that lies about its string lengths or pointers.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tools/processes/peb.h"

using hk::processes::kPeb32Layout;
using hk::processes::kPeb64Layout;
using hk::processes::PebLayout;
using hk::processes::PointerAt;
using hk::processes::ReadCommandLineFromPeb;
using hk::processes::UnicodeStringText;

namespace {

// Regions of memory by base address. A read that runs past its region either
// fails (as ReadProcessMemory does) or, when shortReads is set, succeeds with
// the bytes that are there.
class FakeMemory {
 public:
  bool shortReads = false;
  int reads = 0;
  std::vector<uint64_t> addresses;

  void put(uint64_t base, std::vector<BYTE> bytes) { regions_[base] = std::move(bytes); }

  hk::processes::ReadMemoryFn reader() {
    return [this](uint64_t address, void* buffer, size_t size, size_t* bytesRead) {
      ++reads;
      addresses.push_back(address);
      *bytesRead = 0;
      for (const auto& [base, bytes] : regions_) {
        if (address < base || address >= base + bytes.size()) continue;
        const size_t available = static_cast<size_t>(base + bytes.size() - address);
        const size_t n = std::min(size, available);
        if (n < size && !shortReads) return false;
        std::memcpy(buffer, bytes.data() + (address - base), n);
        *bytesRead = n;
        return true;
      }
      return false;
    };
  }

 private:
  std::map<uint64_t, std::vector<BYTE>> regions_;
};

void put_pointer(std::vector<BYTE>& bytes, size_t offset, uint64_t value, uint32_t size) {
  std::memcpy(bytes.data() + offset, &value, size);
}

std::vector<BYTE> wide_bytes(const std::wstring& text) {
  std::vector<BYTE> bytes(text.size() * sizeof(wchar_t));
  std::memcpy(bytes.data(), text.data(), bytes.size());
  return bytes;
}

constexpr uint64_t kPeb = 0x7FF6'0000'1000ull;
constexpr uint64_t kParameters = 0x0000'0201'0002'0000ull;
constexpr uint64_t kText = 0x0000'0302'0003'0000ull;

// A target whose PEB, parameters and command line sit at the addresses above
// (cut to 32 bits for the 32-bit layout).
void lay_out(FakeMemory& memory, const PebLayout& layout, uint16_t length, uint16_t maximumLength,
             std::vector<BYTE> text, uint64_t textAddress) {
  const uint64_t mask = layout.pointerSize == 4 ? 0xFFFFFFFFull : ~0ull;
  std::vector<BYTE> peb(layout.pebBytes);
  put_pointer(peb, layout.parametersOffset, kParameters & mask, layout.pointerSize);
  std::vector<BYTE> parameters(layout.parametersBytes);
  std::memcpy(parameters.data() + layout.commandLineOffset, &length, 2);
  std::memcpy(parameters.data() + layout.commandLineOffset + 2, &maximumLength, 2);
  put_pointer(parameters, layout.commandLineOffset + layout.pointerSize, textAddress & mask, layout.pointerSize);
  memory.put(kPeb & mask, std::move(peb));
  memory.put(kParameters & mask, std::move(parameters));
  memory.put(textAddress & mask, std::move(text));
}

}  // namespace

TEST(PebPointer, StaysWithinTheBytesRead) {
  const BYTE data[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(PointerAt(data, 12, 4, 8), 0x0C0B0A0908070605ull);
  EXPECT_EQ(PointerAt(data, 12, 8, 4), 0x0C0B0A09ull);
  EXPECT_EQ(PointerAt(data, 12, 5, 8), std::nullopt);
  EXPECT_EQ(PointerAt(data, 11, 8, 4), std::nullopt);  // fewer bytes arrived than the buffer holds
  EXPECT_EQ(PointerAt(data, 12, 13, 4), std::nullopt);
  EXPECT_EQ(PointerAt(data, 12, SIZE_MAX - 2, 4), std::nullopt);
  EXPECT_EQ(PointerAt(data, 12, 0, 2), std::nullopt);
}

TEST(PebString, TheDeclaredLengthIsTrustedOnlyAsFarAsTheBytesRead) {
  const std::vector<BYTE> abc = wide_bytes(L"abc");
  EXPECT_EQ(UnicodeStringText(abc.data(), abc.size(), 0xFFFF), L"abc");
  EXPECT_EQ(UnicodeStringText(abc.data(), abc.size(), 4), L"ab");
  EXPECT_EQ(UnicodeStringText(abc.data(), abc.size(), 5), L"ab");  // an odd byte is dropped
  EXPECT_EQ(UnicodeStringText(abc.data(), 3, 6), L"a");
  EXPECT_EQ(UnicodeStringText(abc.data(), 0, 6), L"");
  EXPECT_EQ(UnicodeStringText(nullptr, 0, 0), L"");
  const std::vector<BYTE> cut = wide_bytes(std::wstring(L"ab\0cd", 5));
  EXPECT_EQ(UnicodeStringText(cut.data(), cut.size(), cut.size()), L"ab");
}

TEST(PebWalk, ReadsBothPointerSizes) {
  for (const PebLayout* layout : {&kPeb64Layout, &kPeb32Layout}) {
    FakeMemory memory;
    const std::wstring line = L"\"C:\\a b\\x.exe\" --flag \u00fc";
    std::vector<BYTE> text = wide_bytes(line + L'\0');
    const auto size = static_cast<uint16_t>(line.size() * 2);
    lay_out(memory, *layout, size, static_cast<uint16_t>(size + 2), text, kText);
    const uint64_t peb = layout->pointerSize == 4 ? (kPeb & 0xFFFFFFFF) : kPeb;
    EXPECT_EQ(ReadCommandLineFromPeb(*layout, peb, memory.reader()), line) << layout->pointerSize;
  }
}

TEST(PebWalk, AMaximumLengthBeyondTheTargetsMemory) {
  // A short read brings fewer bytes than asked: only those are used.
  FakeMemory shortRead;
  shortRead.shortReads = true;
  lay_out(shortRead, kPeb64Layout, 6, 0xFFFF, wide_bytes(L"abc"), kText);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, shortRead.reader()), L"abc");

  // A failing read is retried with Length.
  FakeMemory strict;
  lay_out(strict, kPeb64Layout, 6, 0xFFFF, wide_bytes(L"abc"), kText);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, strict.reader()), L"abc");

  // Neither fits: nothing.
  FakeMemory neither;
  lay_out(neither, kPeb64Layout, 8, 0xFFFF, wide_bytes(L"abc"), kText);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, neither.reader()), std::nullopt);
}

TEST(PebWalk, TextWithoutATerminatorOrWithAnEarlyOne) {
  FakeMemory noNul;
  lay_out(noNul, kPeb32Layout, 8, 8, wide_bytes(L"abcdEXTRA"), kText);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb32Layout, kPeb & 0xFFFFFFFF, noNul.reader()), L"abcd");

  FakeMemory early;
  lay_out(early, kPeb64Layout, 10, 10, wide_bytes(std::wstring(L"ab\0de", 5)), kText);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, early.reader()), L"ab");
}

TEST(PebWalk, AnEmptyCommandLineIsReadWithoutTouchingTheBuffer) {
  FakeMemory memory;
  lay_out(memory, kPeb64Layout, 0, 0, wide_bytes(L"not this"), kText);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, memory.reader()), L"");
  EXPECT_EQ(std::count(memory.addresses.begin(), memory.addresses.end(), kText), 0);
}

TEST(PebWalk, MissingPiecesGiveNothing) {
  FakeMemory memory;
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, memory.reader()), std::nullopt);  // no PEB
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, 0, memory.reader()), std::nullopt);

  FakeMemory noParameters;  // ProcessParameters is null
  noParameters.put(kPeb, std::vector<BYTE>(kPeb64Layout.pebBytes));
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, noParameters.reader()), std::nullopt);

  FakeMemory shortPeb;  // the PEB ends before its ProcessParameters pointer does
  shortPeb.shortReads = true;
  std::vector<BYTE> peb(kPeb64Layout.parametersOffset + 4);
  put_pointer(peb, kPeb64Layout.parametersOffset, 0x1000, 4);
  shortPeb.put(kPeb, peb);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, shortPeb.reader()), std::nullopt);

  FakeMemory nullBuffer;  // a length but no buffer
  lay_out(nullBuffer, kPeb64Layout, 6, 8, wide_bytes(L"abc"), 0);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, nullBuffer.reader()), std::nullopt);

  FakeMemory unmapped;  // the buffer pointer leads nowhere
  lay_out(unmapped, kPeb64Layout, 6, 8, wide_bytes(L"abc"), kText);
  std::vector<BYTE> parameters(kPeb64Layout.parametersBytes);
  const uint16_t lengths[2] = {6, 8};
  std::memcpy(parameters.data() + kPeb64Layout.commandLineOffset, lengths, 4);
  put_pointer(parameters, kPeb64Layout.commandLineOffset + 8, 0xDEAD0000ull, 8);
  unmapped.put(kParameters, parameters);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, unmapped.reader()), std::nullopt);
}

TEST(PebWalk, ACommandLineBehindTheParametersComesWithThemInOneRead) {
  FakeMemory memory;
  lay_out(memory, kPeb64Layout, 0, 0, {}, 0);  // PEB; the parameters are replaced below
  std::vector<BYTE> block(8192);
  const std::wstring line = L"inside the parameters' page";
  const uint16_t lengths[2] = {static_cast<uint16_t>(line.size() * 2), static_cast<uint16_t>(line.size() * 2 + 2)};
  std::memcpy(block.data() + kPeb64Layout.commandLineOffset, lengths, 4);
  put_pointer(block, kPeb64Layout.commandLineOffset + 8, kParameters + 0x400, 8);
  std::memcpy(block.data() + 0x400, line.c_str(), (line.size() + 1) * 2);
  memory.put(kParameters, block);
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, memory.reader()), line);
  EXPECT_EQ(memory.reads, 2);

  // Across the end of that page it takes a read of its own.
  const size_t crossing = 4096 - 6;
  put_pointer(block, kPeb64Layout.commandLineOffset + 8, kParameters + crossing, 8);
  std::memcpy(block.data() + crossing, line.c_str(), (line.size() + 1) * 2);
  memory.put(kParameters, block);
  memory.reads = 0;
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, memory.reader()), line);
  EXPECT_EQ(memory.reads, 3);
}
