// Pieces of the log exposed for tests.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

namespace hk::logging {

// The largest entry the log writes whole: a request text can be a megabyte,
// and every entry is written under the process-wide mutex.
inline constexpr size_t kMaxEntryChars = 16 * 1024;
// The text, or its start and how much was left out.
std::wstring BoundEntry(const std::wstring& text);

std::wstring FormatMessageV(const wchar_t* format, va_list args);
std::string FormatMessageNarrowV(const char* format, va_list args);
std::wstring FormatMessage(const wchar_t* format, ...);
std::string FormatMessageNarrow(const char* format, ...);

// "\n<pid> hh:mm:ss:ms  text" as an ordinary entry is written.
std::wstring EntryLine(unsigned long pid, int hour, int minute, int second, int milliseconds,
                       const std::wstring& text);

struct Snapshot {
  std::wstring directory;
  std::wstring path;
  int lineCount;
  int threshold;
  bool fileUsable;
  bool writeAttempted;
};
Snapshot State();

// Forgets everything InitLog set up, as if the library had just been loaded.
void ResetForTesting();
// Lets a test reach rotation without writing thousands of entries.
void SetLineCountForTesting(int count);

}  // namespace hk::logging
