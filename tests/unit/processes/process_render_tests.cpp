#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>

#include "core/text.h"
#include "tools/processes/process.h"
#include "tools/processes/process_render.h"

using hk::processes::CpuPercent;
using hk::processes::CpuPercentFromUsage;
using hk::processes::FormatCreationTime;
using hk::processes::OpenedProcessFacts;
using hk::processes::ProcessFacts;
using hk::processes::RenderProcess;

namespace {

std::set<std::string> keys(const Json::Value& row) {
  const auto names = row.getMemberNames();
  return {names.begin(), names.end()};
}

ProcessFacts closed_process() {
  ProcessFacts facts;
  facts.name = L"sm\u00f6ss.exe";
  facts.processId = 4242;
  facts.threadCount = 7;
  facts.sessionId = 1;
  facts.commandLine = L"";
  facts.cpu = 12;
  return facts;
}

SYSTEMTIME local(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
  SYSTEMTIME t{};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  return t;
}

}  // namespace

TEST(ProcessRow, AProcessThatCouldNotBeOpenedHasOnlyTheAlwaysMembers) {
  const Json::Value row = RenderProcess(closed_process());
  EXPECT_EQ(keys(row),
            (std::set<std::string>{"name", "command_line", "pid", "sid", "handle_count", "thread_count", "cpu"}));
  EXPECT_EQ(row["name"], hk::ToUtf8(L"sm\u00f6ss.exe"));
  EXPECT_EQ(row["command_line"], "");
  EXPECT_EQ(row["pid"], "4242");
  EXPECT_EQ(row["sid"], "1");
  EXPECT_EQ(row["handle_count"], "0");
  EXPECT_EQ(row["thread_count"], "7");
  ASSERT_TRUE(row["cpu"].isInt());
  EXPECT_EQ(row["cpu"].asInt(), 12);
}

TEST(ProcessRow, AnUnknownSessionIsBlank) {
  ProcessFacts facts = closed_process();
  facts.sessionId.reset();
  EXPECT_EQ(RenderProcess(facts)["sid"], "");
  facts.sessionId = 0;
  EXPECT_EQ(RenderProcess(facts)["sid"], "0");
}

TEST(ProcessRow, OpenedProcessFiguresAreScaledAndCut) {
  ProcessFacts facts = closed_process();
  OpenedProcessFacts opened;
  opened.running = true;
  opened.path = L"C:\\Programme\\\u00e4\\a b.exe";
  opened.description = L"Beschreibung \u2713";
  PROCESS_MEMORY_COUNTERS memory{};
  memory.WorkingSetSize = 5 * 1024 + 1023;
  memory.PageFaultCount = 3000;
  memory.QuotaPagedPoolUsage = 2048;
  memory.QuotaNonPagedPoolUsage = 1023;
  memory.PeakWorkingSetSize = 10 * 1024;
  memory.PagefileUsage = 7 * 1024;
  opened.memory = memory;
  IO_COUNTERS io{};
  io.OtherTransferCount = 0x100000005ull;
  io.OtherOperationCount = 6;
  io.ReadOperationCount = 0xFFFFFFFFull;
  io.ReadTransferCount = 0x200000000ull;
  io.WriteOperationCount = 9;
  io.WriteTransferCount = 10;
  opened.io = io;
  opened.priorityClass = HIGH_PRIORITY_CLASS;
  opened.creationLocalTime = local(2026, 12, 4, 18, 10);
  opened.kernelPlusUser100ns = 25'000'000 + 9'999'999;
  opened.handleCount = 77;
  opened.userName = L"J\u00f6rg";
  facts.opened = opened;

  const Json::Value row = RenderProcess(facts);
  EXPECT_EQ(row["status"], "Running");
  EXPECT_EQ(row["path"], hk::ToUtf8(*opened.path));
  EXPECT_EQ(row["description"], hk::ToUtf8(*opened.description));
  EXPECT_EQ(row["working_set"].asUInt64(), 5u);
  EXPECT_EQ(row["page_faults"].asUInt64(), 3000u);
  EXPECT_EQ(row["page_pool"].asUInt64(), 2u);
  EXPECT_EQ(row["np_pool"].asUInt64(), 0u);
  EXPECT_EQ(row["peak_working"].asUInt64(), 10u);
  EXPECT_EQ(row["commit_size"].asUInt64(), 7u);
  EXPECT_EQ(row["other_transfer_count"].asUInt64(), 5u);
  EXPECT_EQ(row["other_operation_count"].asUInt64(), 6u);
  EXPECT_EQ(row["read_operation_count"].asUInt64(), 0xFFFFFFFFu);
  EXPECT_EQ(row["read_transfer_count"].asUInt64(), 0u);
  EXPECT_EQ(row["write_other_count"].asUInt64(), 9u);
  EXPECT_EQ(row["write_transfer_count"].asUInt64(), 10u);
  EXPECT_EQ(row["priority"], "HIGH_PRIORITY_CLASS");
  EXPECT_EQ(row["time"], "Dec 04,2026 18:10");
  ASSERT_TRUE(row["cpu_time"].isUInt64());
  EXPECT_EQ(row["cpu_time"].asUInt64(), 3u);
  EXPECT_EQ(row["handle_count"], "77");
  EXPECT_EQ(row["user_name"], hk::ToUtf8(L"J\u00f6rg"));
  for (const char* key : {"working_set", "page_faults", "other_transfer_count", "cpu_time"}) {
    EXPECT_TRUE(row[key].isUInt()) << key;
    EXPECT_FALSE(row[key].isString()) << key;
  }
}

TEST(ProcessRow, FailedQueriesLeaveTheirMembersOut) {
  ProcessFacts facts = closed_process();
  OpenedProcessFacts opened;  // nothing but "open" succeeded
  opened.description = L"without a path it is not looked for";
  facts.opened = opened;
  const Json::Value row = RenderProcess(facts);
  EXPECT_EQ(row["status"], "Stopped");
  for (const char* absent : {"path", "description", "working_set", "page_faults", "other_transfer_count",
                             "write_transfer_count", "priority", "user_name"}) {
    EXPECT_FALSE(row.isMember(absent)) << absent;
  }
  EXPECT_EQ(row["time"], "");
  EXPECT_EQ(row["cpu_time"].asUInt64(), 0u);
  EXPECT_EQ(row["handle_count"], "0");
}

TEST(ProcessCreationTime, FormatsLikeTheListing) {
  EXPECT_EQ(FormatCreationTime(local(2026, 12, 4, 18, 10)), "Dec 04,2026 18:10");
  EXPECT_EQ(FormatCreationTime(local(2024, 1, 31, 0, 5)), "Jan 31,2024 00:05");
  EXPECT_EQ(FormatCreationTime(local(1900, 2, 1, 23, 59)), "Feb 01,1900 23:59");
  // A zero FILETIME and broken fields give no text instead of a crash.
  EXPECT_EQ(FormatCreationTime(local(1601, 1, 1, 0, 0)), "");
  EXPECT_EQ(FormatCreationTime(local(2026, 13, 1, 0, 0)), "");
  EXPECT_EQ(FormatCreationTime(local(2026, 1, 1, 24, 0)), "");
}

TEST(ProcessCpu, PercentIsTruncatedAndNothingAboveAHundredCounts) {
  EXPECT_EQ(CpuPercentFromUsage(100.0), 100);
  EXPECT_EQ(CpuPercentFromUsage(100.4), 0);
  EXPECT_EQ(CpuPercentFromUsage(99.9), 99);
  EXPECT_EQ(CpuPercentFromUsage(0.9), 0);
  EXPECT_EQ(CpuPercentFromUsage(1.0), 1);
  EXPECT_EQ(CpuPercentFromUsage(0.0), 0);
  EXPECT_EQ(CpuPercentFromUsage(-3.0), 0);
  EXPECT_EQ(CpuPercentFromUsage(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(CpuPercentFromUsage(std::numeric_limits<double>::infinity()), 0);
}

TEST(ProcessCpu, OneBusyProcessorOfFour) {
  EXPECT_EQ(CpuPercent(2'500'000, 2'500'000, 4), 25);
  EXPECT_EQ(CpuPercent(10'000'000, 2'500'000, 4), 100);
  EXPECT_EQ(CpuPercent(2'500'000, 2'500'000, 1), 100);
  EXPECT_EQ(CpuPercent(2'500'001, 2'500'000, 1), 0);
  // A clock that did not move or went back, or no processor count.
  EXPECT_EQ(CpuPercent(2'500'000, 0, 4), 0);
  EXPECT_EQ(CpuPercent(0, 0, 4), 0);
  EXPECT_EQ(CpuPercent(2'500'000, -2'500'000, 4), 0);
  EXPECT_EQ(CpuPercent(2'500'000, 2'500'000, 0), 0);
}

TEST(ProcessCpu, ALookupOfAnIdOutsideThePassIsZero) {
  hk::processes::CpuUsageTable table({8, 12, 16}, 2);
  table.set_cpu(1, 40);
  EXPECT_EQ(table.lookup(12), 40);
  EXPECT_EQ(table.lookup(8), 0);
  EXPECT_EQ(table.lookup(20), 0);
}
