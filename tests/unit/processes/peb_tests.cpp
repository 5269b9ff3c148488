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
using hk::processes::ReadCommandLineFromPeb;

namespace {

// Regions of memory by base address. A read that runs past its region either
// fails (as ReadProcessMemory does) or, when shortReads is set, succeeds with
// the bytes that are there.
class FakeMemory {
 public:
  bool shortReads = false;

  void put(uint64_t base, std::vector<BYTE> bytes) { regions_[base] = std::move(bytes); }

  hk::processes::ReadMemoryFn reader() {
    return [this](uint64_t address, void* buffer, size_t size, size_t* bytesRead) {
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

TEST(PebWalk, WhatATargetCanLieAbout) {
  const std::wstring line = L"\"C:\\a b\\x.exe\" --flag \u00fc";
  const auto size = static_cast<uint16_t>(line.size() * 2);
  const struct {
    const char* name;
    const PebLayout* layout;
    bool shortReads;
    uint16_t length, maximumLength;
    std::wstring text;
    uint64_t textAddress;
    std::optional<std::wstring> expected;
  } targets[] = {
      {"64-bit", &kPeb64Layout, false, size, uint16_t(size + 2), line + L'\0', kText, line},
      {"32-bit", &kPeb32Layout, false, size, uint16_t(size + 2), line + L'\0', kText, line},
      {"a short read brings fewer bytes than MaximumLength", &kPeb64Layout, true, 6, 0xFFFF, L"abc", kText, L"abc"},
      {"a failing read is retried with Length", &kPeb64Layout, false, 6, 0xFFFF, L"abc", kText, L"abc"},
      {"neither length fits", &kPeb64Layout, false, 8, 0xFFFF, L"abc", kText, std::nullopt},
      {"no terminator, an odd length", &kPeb32Layout, false, 8, 9, L"abcdEXTRA", kText, L"abcd"},
      {"an early terminator", &kPeb64Layout, false, 10, 10, std::wstring(L"ab\0de", 5), kText, L"ab"},
      {"empty: the buffer is not read", &kPeb64Layout, false, 0, 0, L"", 0, L""},
      {"a length but no buffer", &kPeb64Layout, false, 6, 8, L"abc", 0, std::nullopt},
      {"a buffer pointer that leads nowhere", &kPeb64Layout, false, 6, 8, L"", 0xDEAD0000ull, std::nullopt},
  };
  for (const auto& t : targets) {
    FakeMemory memory;
    memory.shortReads = t.shortReads;
    lay_out(memory, *t.layout, t.length, t.maximumLength, wide_bytes(t.text), t.textAddress);
    const uint64_t peb = t.layout->pointerSize == 4 ? (kPeb & 0xFFFFFFFF) : kPeb;
    EXPECT_EQ(ReadCommandLineFromPeb(*t.layout, peb, memory.reader()), t.expected) << t.name;
  }

  FakeMemory memory;
  memory.put(kPeb, std::vector<BYTE>(kPeb64Layout.pebBytes));
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, memory.reader()), std::nullopt) << "null ProcessParameters";
  std::vector<BYTE> shortPeb(kPeb64Layout.parametersOffset + 4);
  put_pointer(shortPeb, kPeb64Layout.parametersOffset, 0x1000, 4);
  memory.put(kPeb, shortPeb);
  memory.shortReads = true;
  EXPECT_EQ(ReadCommandLineFromPeb(kPeb64Layout, kPeb, memory.reader()), std::nullopt)
      << "the PEB ends inside its ProcessParameters pointer";
}
