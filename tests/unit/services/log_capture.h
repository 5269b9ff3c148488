// The library's log set up in a scratch folder for one test, so the test can
// read back the lines the code under test wrote.
#pragma once
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "infra/log.h"
#include "infra/log_internal.h"
#include "support/scratch_dir.h"

namespace hk::test {

class LogCapture {
 public:
  LogCapture() {
    hk::logging::ResetForTesting();
    ::SetCurrentDirectoryW(dir_.path().c_str());
    InitLog(L"ToolsSys", L"o.1", L"ToolsSys.log", false, L"", true);
    SetLogLevel(2);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture() {
    hk::logging::ResetForTesting();
    ::SetCurrentDirectoryW(L"C:\\");
  }

  std::string text() const {
    std::ifstream in(dir_.path() / "log" / "ToolsSys.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Whether an entry consists of exactly this message.
  bool has_entry(const std::string& message) const {
    const std::string t = text();
    const std::string tail = "  " + message;
    for (size_t pos = t.find(tail); pos != std::string::npos; pos = t.find(tail, pos + 1)) {
      const size_t end = pos + tail.size();
      if (end == t.size() || t[end] == '\r' || t[end] == '\n') return true;
    }
    return false;
  }

 private:
  ScratchDir dir_;
};

}  // namespace hk::test
