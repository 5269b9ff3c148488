// Tool 1, processes: the listing and the termination that the request
// dispatch calls. Both report through an outcome text pointer that holds a
// status word of core/outcome.h or a heap text with the finished response,
// which the receiver sends and releases with hk::FreeText.
#pragma once
#include <windows.h>

#include <string>

#include "core/outcome.h"

namespace hk::processes {
// Samples CPU usage (about 3 s) and lists every process: the finished "1301"
// success envelope, nothing when the snapshot was empty, or the error.
Outcome ListProcesses(const std::string& webClientId);
// Ends the process; the error when it could not be opened or ended.
Outcome Terminate(DWORD processId);
}  // namespace hk::processes

// The same two under the names the log and older callers use.
class LocalProcess {
 public:
  // Samples CPU usage (about 3 s), lists every process, and stores the
  // finished "1301" success envelope (tool "1") through result. Returns 1
  // when the envelope was built from at least one process, else 0 with result
  // "false" (empty snapshot) or "error" (an error was caught first).
  static int get_details(char** result, std::string webClientId);

  // Ends the process: result "true" when it was ended, "error" when it could
  // not be opened or TerminateProcess failed (GetLastError() still tells
  // why). Always returns false; the outcome is the text.
  static bool terminate_process(DWORD processId, char** result);
};
