// Shared by the WMI and local users tests: a log in a scratch folder, and a
// way to run a piece of code on a thread of its own and learn whether it left
// that thread's COM as it found it.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "infra/log.h"
#include "infra/log_internal.h"
#include "support/scratch_dir.h"

namespace hk::test {

// A fresh log at level 2; Log() gives its entries with "\n" line ends.
class WmiLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hk::logging::ResetForTesting();
    ASSERT_TRUE(::SetCurrentDirectoryW(dir_.path().c_str()));
    InitLog(L"ToolsSys", L"o.1", L"ToolsSys.log", false, L"", true);
    SetLogLevel(2);
  }
  void TearDown() override {
    hk::logging::ResetForTesting();
    ::SetCurrentDirectoryW(L"C:\\");
  }
  std::string Log() const {
    std::ifstream in(dir_.path() / "log" / "ToolsSys.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    for (size_t pos = text.find("\r\n"); pos != std::string::npos; pos = text.find("\r\n", pos)) text.erase(pos, 1);
    return text;
  }
  // Whether an entry with exactly this text was written.
  bool Logged(const std::string& entry) const {
    const std::string log = Log() + "\n";
    return log.find("  " + entry + "\n") != std::string::npos;
  }
  int Count(const std::string& entry) const {
    const std::string log = Log() + "\n";
    int n = 0;
    for (size_t pos = log.find("  " + entry + "\n"); pos != std::string::npos;
         pos = log.find("  " + entry + "\n", pos + 1))
      ++n;
    return n;
  }

  ScratchDir dir_;
};

// How a piece of code left COM on its thread.
struct ComBalance {
  bool outer_kept = false;    // COM the thread entered before is still entered
  bool nothing_left = false;  // after the thread's own CoUninitialize, COM is gone
};

// Runs work on a new thread that has entered the multithreaded apartment
// itself, so both a missing and a surplus CoUninitialize show.
inline ComBalance RunOnComThread(const std::function<void()>& work) {
  ComBalance balance;
  std::thread thread([&] {
    if (::CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) return;
    work();
    const HRESULT probe = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    balance.outer_kept = probe == S_FALSE;
    if (SUCCEEDED(probe)) ::CoUninitialize();
    ::CoUninitialize();
    const HRESULT after = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    balance.nothing_left = after == S_OK;
    if (SUCCEEDED(after)) ::CoUninitialize();
  });
  thread.join();
  return balance;
}

}  // namespace hk::test
