// The PEB walk over a fake address space, for both pointer sizes, with a
// target that lies about its string lengths or pointers.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/processes/peb.h"

using hk::processes::kPeb32Layout;
using hk::processes::kPeb64Layout;
using hk::processes::PebLayout;
using hk::processes::ReadCommandLineFromPeb;

namespace {

constexpr uint64_t kPeb = 0x7FF6'0000'1000ull;
constexpr uint64_t kParameters = 0x0000'0201'0002'0000ull;
constexpr uint64_t kText = 0x0000'0302'0003'0000ull;

// A target's PEB, parameters and command line at the addresses above (cut to
// 32 bits for the 32-bit layout). A read past its region fails, as
// ReadProcessMemory does, or with shortReads brings the bytes that are there.
struct Target {
  const PebLayout& layout;
  bool shortReads = false;
  std::map<uint64_t, std::vector<BYTE>> regions;

  Target(const PebLayout& l, bool shortReads, uint16_t length, uint16_t maximumLength, const std::wstring& text,
         uint64_t textAddress)
      : layout(l), shortReads(shortReads) {
    const auto put = [](std::vector<BYTE>& bytes, size_t offset, uint64_t value, size_t size) {
      std::memcpy(bytes.data() + offset, &value, size);
    };
    std::vector<BYTE>& peb = regions[kPeb & mask()];
    peb.resize(layout.pebBytes);
    put(peb, layout.parametersOffset, kParameters & mask(), layout.pointerSize);
    std::vector<BYTE>& parameters = regions[kParameters & mask()];
    parameters.resize(layout.parametersBytes);
    put(parameters, layout.commandLineOffset, length | (maximumLength << 16), 4);
    put(parameters, layout.commandLineOffset + layout.pointerSize, textAddress & mask(), layout.pointerSize);
    const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
    regions[textAddress & mask()].assign(bytes, bytes + text.size() * sizeof(wchar_t));
  }
  uint64_t mask() const { return layout.pointerSize == 4 ? 0xFFFFFFFFull : ~0ull; }

  std::optional<std::wstring> CommandLine() const {
    return ReadCommandLineFromPeb(layout, kPeb & mask(),
                                  [this](uint64_t address, void* buffer, size_t size, size_t* got) {
                                    *got = 0;
                                    for (const auto& [base, bytes] : regions) {
                                      if (address < base || address >= base + bytes.size()) continue;
                                      *got = std::min(size, static_cast<size_t>(base + bytes.size() - address));
                                      if (*got < size && !shortReads) return false;
                                      std::memcpy(buffer, bytes.data() + (address - base), *got);
                                      return true;
                                    }
                                    return false;
                                  });
  }
};

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
    EXPECT_EQ(Target(*t.layout, t.shortReads, t.length, t.maximumLength, t.text, t.textAddress).CommandLine(),
              t.expected)
        << t.name;
  }

  Target nullParameters(kPeb64Layout, false, 6, 8, L"abc", kText);
  nullParameters.regions[kPeb].assign(kPeb64Layout.pebBytes, 0);
  EXPECT_EQ(nullParameters.CommandLine(), std::nullopt) << "null ProcessParameters";
  // Only the low half of the pointer arrives; parameters sit where that half
  // alone would lead.
  Target cut(kPeb64Layout, true, 6, 8, L"abc", kText);
  cut.regions[kParameters & 0xFFFFFFFF] = cut.regions[kParameters];
  cut.regions[kPeb].resize(kPeb64Layout.parametersOffset + 4);
  EXPECT_EQ(cut.CommandLine(), std::nullopt) << "the PEB ends inside its ProcessParameters pointer";
}
