#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "core/outcome.h"
#include "processes/child_process.h"
#include "tools/processes/local_process.h"
#include "tools/processes/process_snapshot.h"

namespace {

bool in_snapshot(DWORD pid) {
  const auto entries = hk::processes::TakeProcessSnapshot();
  return std::any_of(entries.begin(), entries.end(),
                     [pid](const PROCESSENTRY32W& e) { return e.th32ProcessID == pid; });
}

}  // namespace

TEST(ProcessTermination, EndsAChildWhichIsThenGone) {
  auto child = hk::test::ChildProcess::Start(hk::test::SleeperPath(), L"to be ended");
  ASSERT_NE(child, nullptr);
  ASSERT_TRUE(in_snapshot(child->pid()));

  char* outcome = nullptr;
  EXPECT_FALSE(LocalProcess::terminate_process(child->pid(), &outcome));
  EXPECT_STREQ(outcome, hk::kOutcomeTrue);
  ASSERT_EQ(::WaitForSingleObject(child->handle(), 10000), WAIT_OBJECT_0);
  DWORD code = STILL_ACTIVE;
  ASSERT_TRUE(::GetExitCodeProcess(child->handle(), &code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(in_snapshot(child->pid()));
}

TEST(ProcessTermination, AnIdThatIsNoProcessFailsWithTheSystemsReason) {
  DWORD missing = 0x7FFFFFF0;
  while (in_snapshot(missing)) missing -= 4;
  char* outcome = nullptr;
  ::SetLastError(0);
  EXPECT_FALSE(LocalProcess::terminate_process(missing, &outcome));
  EXPECT_STREQ(outcome, hk::kOutcomeError);
  EXPECT_NE(::GetLastError(), 0u);
}

TEST(ProcessTermination, ProcessIdZeroFails) {
  char* outcome = nullptr;
  ::SetLastError(0);
  EXPECT_FALSE(LocalProcess::terminate_process(0, &outcome));
  EXPECT_STREQ(outcome, hk::kOutcomeError);
  EXPECT_NE(::GetLastError(), 0u);
}
