// The row of one process, and the arithmetic and texts behind its members.
#include <windows.h>

#include <gtest/gtest.h>
#include <json/writer.h>

#include <limits>
#include <string>

#include "tools/processes/process.h"
#include "tools/processes/process_render.h"

using hk::processes::CpuPercent;
using hk::processes::CpuPercentFromUsage;
using hk::processes::FormatCreationTime;
using hk::processes::OpenedProcessFacts;
using hk::processes::ProcessFacts;
using hk::processes::RenderProcess;

namespace {

SYSTEMTIME local(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
  return SYSTEMTIME{year, month, 0, day, hour, minute, 0, 0};
}

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

  opened.running = true;
  opened.path = L"C:\\Programme\\\u00e4\\a b.exe";
  opened.description = L"Beschreibung \u2713";
  // cb, PageFaultCount, PeakWorkingSetSize, WorkingSetSize, QuotaPeakPagedPoolUsage, QuotaPagedPoolUsage,
  // QuotaPeakNonPagedPoolUsage, QuotaNonPagedPoolUsage, PagefileUsage, PeakPagefileUsage
  opened.memory = PROCESS_MEMORY_COUNTERS{0, 3000, 10 * 1024, 5 * 1024 + 1023, 0, 2048, 0, 1023, 7 * 1024, 0};
  // Read, write and other operations, then the same three transfer counts.
  opened.io = IO_COUNTERS{0xFFFFFFFF, 9, 6, 0x200000000ull, 10, 0x100000005ull};
  opened.priorityClass = HIGH_PRIORITY_CLASS;
  opened.creationLocalTime = local(2026, 12, 4, 18, 10);
  opened.kernelPlusUser100ns = 25'000'000 + 9'999'999;
  opened.handleCount = 77;
  opened.userName = L"J\u00f6rg";
  facts.opened = opened;
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
