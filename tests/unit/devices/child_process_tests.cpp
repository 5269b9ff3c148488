// The child process runner with the stand-in as the child, and the real
// device action programs run through it under Wine.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "devices/devices_test_support.h"
#include "infra/child_process.h"
#include "infra/win_resource.h"
#include "support/log_capture.h"

namespace {

using hk::test::StandInRecord;

std::wstring StandIn(const std::wstring& arguments) {
  return (hk::test::StandInFolder() / L"DevExe32.exe").wstring() + L" " + arguments;
}

unsigned Execute(const wchar_t* directory, std::wstring line, unsigned minutes = 1) {
  return execute(directory, line.data(), nullptr, minutes, false);
}

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

class ChildProcessRunner : public ::testing::Test {
 protected:
  hk::test::LogCapture log_;
  StandInRecord record_;
  const std::wstring event_ = L"Local\\hk-runner-" + std::to_wstring(::GetCurrentProcessId());
  const hk::unique_handle release_{::CreateEventW(nullptr, TRUE, FALSE, event_.c_str())};
};

TEST_F(ChildProcessRunner, ExitCodesPassAndTheFilterTurnsSuccessCodesToZero) {
  for (const unsigned code : {0u, 1508u, 1641u, 3010u}) EXPECT_EQ(hk::FilterExecuteResult(code), 0u) << code;
  for (const unsigned code : {5u, 258u, 3011u}) EXPECT_EQ(hk::FilterExecuteResult(code), code) << code;
  EXPECT_EQ(Execute(nullptr, StandIn(L"--exit 5")), 5u);
  EXPECT_TRUE(log_.contains("execute : Exit code for the application : 5 \n")) << log_.text();
  std::wstring line = StandIn(L"--exit 1641");
  EXPECT_EQ(hk::ExecuteFiltered(nullptr, line.data(), 1, false), 0u);
}

TEST_F(ChildProcessRunner, WithoutLimitTheChildIsNotAwaited) {
  ASSERT_EQ(Execute(nullptr, StandIn(L"--wait " + event_), 0), 0u);
  // The child cannot end before the event is set, so execute returned first.
  const hk::unique_handle child(::OpenProcess(SYNCHRONIZE, FALSE, record_.Get(1).pid));
  ASSERT_TRUE(child);
  EXPECT_EQ(::WaitForSingleObject(child.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ::SetEvent(release_.get());
  EXPECT_EQ(record_.WaitFor(2).back(), L"done");
}

TEST_F(ChildProcessRunner, ChildOutlivingItsLimitIsEndedWith258) {
  unsigned result = 0;
  std::thread runner([&] {
    std::wstring line = StandIn(L"--wait " + event_);
    result = hk::ExecuteWithMinute(nullptr, line.data(), 1, false, 4000);
  });
  const hk::unique_handle child(
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, record_.Get(1).pid));
  runner.join();
  EXPECT_EQ(result, 258u);
  ASSERT_TRUE(child);
  ASSERT_EQ(::WaitForSingleObject(child.get(), 20000), WAIT_OBJECT_0);
  DWORD exitCode = 99;
  ::GetExitCodeProcess(child.get(), &exitCode);
  EXPECT_EQ(exitCode, 0u);  // TerminateProcess's, not the stand-in's own 99
  EXPECT_TRUE(log_.contains("as time is exceeded 1 Minutes \n")) << log_.text();
  EXPECT_TRUE(log_.contains("execute : The process has been successfully terminated ..! \n"));
}

TEST_F(ChildProcessRunner, WorkingDirectoryIsUsedThenRestoredAndFailuresGiveTheSystemError) {
  const hk::test::ScratchDir work;
  const std::wstring before = CurrentDirectory();
  EXPECT_EQ(Execute(work.path().c_str(), StandIn(L"--exit 0")), 0u);
  EXPECT_EQ(record_.Get(1).directory, work.path().wstring());
  EXPECT_EQ(CurrentDirectory(), before);

  const std::wstring missing = (work.path() / L"missing").wstring();
  EXPECT_EQ(Execute(missing.c_str(), StandIn(L"--exit 0")), static_cast<unsigned>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(log_.contains("execute : Failed to set the WorkingDirectory " + hk::ToUtf8(missing)));
  EXPECT_EQ(CurrentDirectory(), before);

  EXPECT_EQ(Execute(nullptr, (work.path() / L"none.exe").wstring(), 0), static_cast<unsigned>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(log_.contains("execute : Failed to Create the Process for the application \n"));
}

TEST(Wow64Check, AgreesWithTheNativeSystem) { EXPECT_EQ(hk::IsWow64(), hk::test::RunsUnderWow64()); }

// The build's real device action program of the machine's own architecture
// (it runs on every machine), through the runner: its exit code.
unsigned RunDevExe(const std::wstring& arguments) {
  SYSTEM_INFO native{};
  ::GetNativeSystemInfo(&native);
  const wchar_t* name =
      native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ? L"DevExe32.exe" : L"DevExe64.exe";
  return Execute(nullptr, (hk::test::BuildBinFolder() / name).wstring() + L" " + arguments);
}

TEST(DevExeProgram, BadArgumentsGive87) {
  for (const wchar_t* arguments : {L"", L"{4D36E967-E325-11CE-BFC1-08002BE10318} ROOT\\X\\0 Change 3",
                                   L"{4D36E967-E325-11CE-BFC1-08002BE1031} ROOT\\X\\0 Update",
                                   L"{4D36E967-E325-11CE-BFC1-08002BE10318} ROOT\\X\\0 Uninstall now"}) {
    EXPECT_EQ(RunDevExe(arguments), static_cast<unsigned>(ERROR_INVALID_PARAMETER)) << hk::ToUtf8(arguments);
  }
}

TEST(DevExeProgram, DeviceThatDoesNotExistIsNotFound) {
  EXPECT_EQ(RunDevExe(L"4d36e967-e325-11ce-bfc1-08002be10318 ROOT\\HK_NO_SUCH\\0 change 2"),
            static_cast<unsigned>(ERROR_NO_SUCH_DEVINST));
}

}  // namespace
