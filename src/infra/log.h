// The library's one log, "ToolsSys.log": printf-style calls with a small
// formatter of their own (%d %u %x %ld %f %s only), a process-wide mutex and
// rotation into numbered copies.
#pragma once
#include <string>
#include <vector>

int WriteLog(const wchar_t* format, ...);        // level 2
int WriteLogLevel1(const wchar_t* format, ...);  // level 1
int WriteLogLevel0(const wchar_t* format, ...);  // level 0
// Narrow format, or the id of a string resource (a value below 0x10000);
// "%s" takes narrow strings here.
int WriteLogA(const char* format, ...);          // level 2

void InitLog(const wchar_t* productName, const wchar_t* version, const wchar_t* logFileName,
             bool useExecutableFolder, const wchar_t* reserved, bool agentLayout);
int SetLogLevel(int level);
void LogBuildBanner();

// True when the working directory names one of the agent's install folders.
bool IsAgentWorkingDirectory();

namespace hk::logging {

// A log line as a call made it: its level and its formatted text.
struct LoggedLine {
  int level;
  std::wstring text;
};

// While one lives, the wide log calls of its thread are kept in it as well as
// written (or gated) as usual, so that work done once can be logged again as
// if it had been done again.
class LineRecorder {
 public:
  LineRecorder();
  LineRecorder(const LineRecorder&) = delete;
  LineRecorder& operator=(const LineRecorder&) = delete;
  ~LineRecorder();
  std::vector<LoggedLine> Take();

 private:
  std::vector<LoggedLine> lines_;
  std::vector<LoggedLine>* outer_;
};

// Writes the lines again, each at its level through the usual gate.
void Replay(const std::vector<LoggedLine>& lines);

}  // namespace hk::logging
