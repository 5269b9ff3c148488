// The library's log in a scratch folder while this object lives, so a test
// can read back the entries the code under test wrote.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "infra/log.h"
#include "infra/log_internal.h"
#include "support/scratch_dir.h"

namespace hk::test {

class LogCapture {
 public:
  explicit LogCapture(int level = 2) {
    hk::logging::ResetForTesting();
    if (!::SetCurrentDirectoryW(dir_.path().c_str())) ADD_FAILURE() << "cannot enter " << dir_.path().string();
    InitLog(L"ToolsSys", L"o.1", L"ToolsSys.log", false, L"", true);
    SetLogLevel(level);
  }
  ~LogCapture() {
    hk::logging::ResetForTesting();
    ::SetCurrentDirectoryW(L"C:\\");
  }

  std::filesystem::path folder() const { return dir_.path() / "log"; }
  // The whole file, with the CR LF the file's text mode writes read as "\n".
  std::string text() const {
    std::ifstream in(folder() / "ToolsSys.log", std::ios::binary);
    std::string t{std::istreambuf_iterator<char>(in), {}};
    for (size_t pos = t.find("\r\n"); pos != std::string::npos; pos = t.find("\r\n", pos)) t.erase(pos, 1);
    return t;
  }
  // An entry of exactly this text (after a time stamp's two blanks).
  bool logged(const std::string& entry) const { return contains("  " + entry + "\n"); }
  bool contains(const std::string& part) const { return (text() + "\n").find(part) != std::string::npos; }

 private:
  ScratchDir dir_;
};

}  // namespace hk::test
