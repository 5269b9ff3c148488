// The child process runner with the stand-in as the child.
#include <windows.h>

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
};

TEST_F(ChildProcessRunner, ExitCodesPassAndTheFilterTurnsSuccessCodesToZero) {
  struct Row {
    unsigned exitCode, filtered;
  };
  for (const Row row : {Row{0, 0}, Row{5, 5}, Row{1508, 0}, Row{1641, 0}, Row{3010, 0}, Row{3011, 3011}}) {
    EXPECT_EQ(hk::FilterExecuteResult(row.exitCode), row.filtered) << row.exitCode;
  }
  EXPECT_EQ(Execute(nullptr, StandIn(L"--exit 5")), 5u);
  EXPECT_TRUE(log_.contains("execute : Exit code for the application : 5 \n")) << log_.text();
  std::wstring line = StandIn(L"--exit 1641");
  EXPECT_EQ(hk::ExecuteFiltered(nullptr, line.data(), 1, false), 0u);
}

TEST_F(ChildProcessRunner, WithoutLimitTheChildIsStartedAndNotAwaited) {
  const std::wstring event = L"Local\\hk-runner-" + std::to_wstring(::GetCurrentProcessId());
  const hk::unique_handle release(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
  ASSERT_EQ(Execute(nullptr, StandIn(L"--wait " + event), 0), 0u);
  // The child cannot end before the event is set, so execute returned first.
  const auto line = StandInRecord::Parse(record_.WaitFor(1)[0]);
  const hk::unique_handle child(::OpenProcess(SYNCHRONIZE, FALSE, line.pid));
  ASSERT_TRUE(child);
  EXPECT_EQ(::WaitForSingleObject(child.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ::SetEvent(release.get());
  EXPECT_EQ(record_.WaitFor(2)[1], L"done");
  EXPECT_EQ(::WaitForSingleObject(child.get(), 20000), WAIT_OBJECT_0);
}

TEST_F(ChildProcessRunner, ChildOutlivingItsLimitIsEndedWith258) {
  const std::wstring event = L"Local\\hk-runner-never-" + std::to_wstring(::GetCurrentProcessId());
  const hk::unique_handle never(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
  unsigned result = 0;
  std::thread runner([&] {
    std::wstring line = StandIn(L"--wait " + event);
    result = hk::ExecuteWithMinute(nullptr, line.data(), 1, false, 4000);
  });
  const auto line = StandInRecord::Parse(record_.WaitFor(1)[0]);
  const hk::unique_handle child(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, line.pid));
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

TEST_F(ChildProcessRunner, WorkingDirectoryIsUsedThenRestored) {
  const hk::test::ScratchDir work;
  const std::wstring before = CurrentDirectory();
  EXPECT_EQ(Execute(work.path().c_str(), StandIn(L"--exit 0")), 0u);
  EXPECT_EQ(StandInRecord::Parse(record_.WaitFor(1)[0]).directory, work.path().wstring());
  EXPECT_EQ(CurrentDirectory(), before);

  const std::wstring missing = (work.path() / L"missing").wstring();
  EXPECT_EQ(Execute(missing.c_str(), StandIn(L"--exit 0")), static_cast<unsigned>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(log_.contains("execute : Failed to set the WorkingDirectory " + hk::ToUtf8(missing))) << log_.text();
  EXPECT_EQ(CurrentDirectory(), before);
}

TEST_F(ChildProcessRunner, StartFailureGivesTheSystemError) {
  const std::wstring line = (hk::test::StandInFolder() / L"no-such-program.exe").wstring();
  EXPECT_EQ(Execute(nullptr, line, 0), static_cast<unsigned>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(log_.contains("execute : Failed to Create the Process for the application \n"));
}

TEST(Wow64Check, AgreesWithTheNativeSystem) { EXPECT_EQ(hk::IsWow64(), hk::test::RunsUnderWow64()); }

}  // namespace
