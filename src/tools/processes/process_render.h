// Turns the facts of a process into the row the listing sends, and the
// arithmetic and texts behind some of its members.
#pragma once
#include <windows.h>
#include <json/value.h>

#include <cstdint>
#include <string>

#include "tools/processes/process_facts.h"

namespace hk::processes {

Json::Value RenderProcess(const ProcessFacts& facts);

// The name of a priority class, or nullptr for a value that is none of the six.
const char* PriorityClassName(DWORD priorityClass);

// "%b %d,%Y %H:%M" of a local time, e.g. "Dec 04,2026 18:10"; "" when the
// time cannot be formatted.
std::string FormatCreationTime(const SYSTEMTIME& localTime);

// A usage in percent as the listing reports it: truncated, and 0 for
// anything above 100, at or below 0, or not a number.
int32_t CpuPercentFromUsage(double usage);
// usage = cpu time / wall time / processors * 100; times in 100-ns units.
int32_t CpuPercent(int64_t cpuDelta100ns, int64_t wallDelta100ns, unsigned processors);

}  // namespace hk::processes
