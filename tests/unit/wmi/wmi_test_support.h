// Shared by the WMI-reading tools' tests.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "support/log_capture.h"

namespace hk::test {

// A fresh log at level 2 for each test.
class WmiLogTest : public ::testing::Test {
 protected:
  void SetUp() override { log_.emplace(); }
  std::string Log() const { return log_->text(); }
  bool Logged(const std::string& entry) const { return log_->logged(entry); }

  std::optional<LogCapture> log_;
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
