// The process tool's pure parts: a row and the figures behind its members,
// the PEB walk over a fake address space, and the growing buffer.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/writer.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "infra/sized_buffer.h"
#include "tools/processes/peb.h"
#include "tools/processes/process.h"
#include "tools/processes/process_render.h"

using namespace hk::processes;

namespace {

SYSTEMTIME local(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
  return SYSTEMTIME{year, month, 0, day, hour, minute, 0, 0};
}

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

// Byte by byte as sent: which members, texts or numbers, in the writer's order.
TEST(ProcessRow, MembersOfWhatCouldBeRead) {
  ProcessFacts facts{L"sm\u00f6ss.exe", 4242, 7, 1, L"", 12, std::nullopt};
  const std::string always = R"("name":"sm\u00f6ss.exe","pid":"4242","sid":"1",)";
  EXPECT_EQ(Json::FastWriter().write(RenderProcess(facts)),
            R"({"command_line":"","cpu":12,"handle_count":"0",)" + always + R"("thread_count":"7"})" + "\n")
      << "not opened";
  facts.sessionId.reset();
  EXPECT_EQ(RenderProcess(facts)["sid"], "") << "an unknown session";
  facts.sessionId = 1;

  OpenedProcessFacts opened;  // nothing but "open" succeeded
  opened.description = L"without a path it is not looked for";
  facts.opened = opened;
  EXPECT_EQ(Json::FastWriter().write(RenderProcess(facts)),
            R"({"command_line":"","cpu":12,"cpu_time":0,"handle_count":"0",)" + always +
                R"("status":"Stopped","thread_count":"7","time":""})" + "\n")
      << "every query failed";

  // memory: cb, PageFaultCount, PeakWorkingSetSize, WorkingSetSize, QuotaPeakPagedPoolUsage, QuotaPagedPoolUsage,
  // QuotaPeakNonPagedPoolUsage, QuotaNonPagedPoolUsage, PagefileUsage, PeakPagefileUsage; io: read, write and
  // other operations, then the same three transfer counts.
  facts.opened = OpenedProcessFacts{.running = true,
                                    .path = L"C:\\Programme\\\u00e4\\a b.exe",
                                    .description = L"Beschreibung \u2713",
                                    .memory = {{0, 3000, 10 * 1024, 5 * 1024 + 1023, 0, 2048, 0, 1023, 7 * 1024, 0}},
                                    .io = {{0xFFFFFFFF, 9, 6, 0x200000000ull, 10, 0x100000005ull}},
                                    .priorityClass = HIGH_PRIORITY_CLASS,
                                    .creationLocalTime = local(2026, 12, 4, 18, 10),
                                    .kernelPlusUser100ns = 25'000'000 + 9'999'999,
                                    .handleCount = 77,
                                    .userName = L"J\u00f6rg"};
  // Kilobytes, the low 32 bits of the I/O counts, whole seconds.
  EXPECT_EQ(Json::FastWriter().write(RenderProcess(facts)),
            R"({"command_line":"","commit_size":7,"cpu":12,"cpu_time":3,"description":"Beschreibung \u2713",)"
            R"("handle_count":"77","name":"sm\u00f6ss.exe","np_pool":0,"other_operation_count":6,)"
            R"("other_transfer_count":5,"page_faults":3000,"page_pool":2,"path":"C:\\Programme\\\u00e4\\a b.exe",)"
            R"("peak_working":10,"pid":"4242","priority":"HIGH_PRIORITY_CLASS","read_operation_count":4294967295,)"
            R"("read_transfer_count":0,"sid":"1","status":"Running","thread_count":"7","time":"Dec 04,2026 18:10",)"
            R"("user_name":"J\u00f6rg","working_set":5,"write_other_count":9,"write_transfer_count":10})"
            "\n");
}

TEST(ProcessFigures, TimesAndPercentages) {
  const std::pair<std::string, std::string> times[] = {
      {FormatCreationTime(local(2024, 1, 31, 0, 5)), "Jan 31,2024 00:05"},
      // A zero FILETIME and broken fields give no text instead of a crash.
      {FormatCreationTime(local(1601, 1, 1, 0, 0)), ""},
      {FormatCreationTime(local(2026, 1, 1, 24, 0)), ""},
  };
  for (const auto& [got, expected] : times) EXPECT_EQ(got, expected) << expected;

  const struct {
    const char* name;
    int32_t got, expected;
  } percents[] = {
      {"100", CpuPercentFromUsage(100.0), 100},
      {"above 100 counts nothing", CpuPercentFromUsage(100.4), 0},
      {"truncated", CpuPercentFromUsage(99.9), 99},
      {"NaN", CpuPercentFromUsage(std::numeric_limits<double>::quiet_NaN()), 0},
      {"one busy processor of four", CpuPercent(2'500'000, 2'500'000, 4), 25},
      {"a clock that went back", CpuPercent(2'500'000, -2'500'000, 4), 0},
      {"no processor count, no division", CpuPercent(2'500'000, 2'500'000, 0), 0},
  };
  for (const auto& p : percents) EXPECT_EQ(p.got, p.expected) << p.name;

  hk::processes::CpuUsageTable table({8, 12, 16}, 2);
  table.set_cpu(1, 40);
  EXPECT_EQ(table.lookup(12), 40);
  EXPECT_EQ(table.lookup(8), 0);
  EXPECT_EQ(table.lookup(20), 0) << "an id outside the pass";
}

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

// "Call once for the size, then again" against data whose size changes from
// call to call, refusing a buffer that is too small as Windows does.
TEST(FillGrowing, GrowsToWhatTheDataWantsWithinItsBound) {
  const struct {
    const char* name;
    std::vector<DWORD> sizes;  // the data's size at each call; the last repeats; 0: a failure no buffer cures
    std::vector<DWORD> offered;
    bool filled;
  } cases[] = {
      {"first call enough", {10}, {36}, true},
      {"grew again between calls", {1000, 2000}, {36, 1036, 2036}, true},
      {"keeps growing: four calls at most", {100, 200, 300, 400, 500}, {36, 136, 236, 336}, false},
      {"a failure a buffer does not cure", {0}, {36}, false},
      {"an absurd size is not wrapped", {MAXDWORD - 10}, {36}, false},
  };
  for (const auto& c : cases) {
    std::vector<DWORD> offered;
    const auto buffer = hk::FillGrowing(
        36,
        [&](BYTE* data, DWORD size, DWORD* needed) {
          const DWORD want = c.sizes[std::min(offered.size(), c.sizes.size() - 1)];
          offered.push_back(size);
          *needed = want;
          if (want == 0 || size < want) return false;
          data[want - 1] = 0xAB;
          return true;
        },
        36);
    EXPECT_EQ(offered, c.offered) << c.name;
    EXPECT_EQ(buffer.has_value(), c.filled) << c.name;
  }
}
