// Starting another program from a command line, optionally in a working
// directory and optionally waiting for it with a time limit in minutes; and
// whether this 32-bit library runs on 64-bit Windows.
#pragma once
#include <windows.h>

// The result: 0 when not waited for, the program's exit code, 258 when it
// outlived the limit (it is then ended), or a system error code. A working
// directory is entered for the call and left again: every thread of the
// process sees it meanwhile. The third argument is not used.
unsigned execute(const wchar_t* workingDirectory, wchar_t* commandLine, const wchar_t* reserved,
                 unsigned timeLimitMinutes, bool showWindow);

namespace hk {

// execute with the length of one limit "minute" given, so tests can run out
// the limit without waiting minutes.
unsigned ExecuteWithMinute(const wchar_t* workingDirectory, wchar_t* commandLine, unsigned timeLimitMinutes,
                           bool showWindow, DWORD minuteMs);

// 0, 1508, 1641 and 3010 count as success (0); anything else passes.
unsigned FilterExecuteResult(unsigned result);

// execute through the filter: what callers use.
unsigned ExecuteFiltered(const wchar_t* workingDirectory, wchar_t* commandLine, unsigned timeLimitMinutes,
                         bool showWindow);

// IsWow64Process for this process, looked up in kernel32 before each use;
// false when the system has no such function.
bool IsWow64();

}  // namespace hk
