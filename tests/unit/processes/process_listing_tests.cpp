// The listing against real processes: children of this test with spaces and
// non-ASCII characters in their paths and command lines, and the test's own
// process spinning one thread while the listing samples it.
#include <windows.h>
#include <json/reader.h>
#include <json/writer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "core/messages.h"
#include "core/outcome.h"
#include "core/text.h"
#include "infra/win_resource.h"
#include "processes/child_process.h"
#include "support/scratch_dir.h"
#include "tools/processes/local_process.h"
#include "tools/processes/process_collect.h"
#include "tools/processes/process.h"
#include "tools/processes/process_render.h"

namespace fs = std::filesystem;
using hk::ToUtf8;
using hk::processes::Process;
using hk::test::ChildProcess;

namespace {

const wchar_t kImageName[] = L"hk sleeper \u00fc.exe";
const char kDescription[] = "Idle child of the process tool tests";

uint64_t ticks(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// Kernel plus user time of a process or thread, in 100 ns.
template <typename Get>
uint64_t cpu_ticks(Get get, HANDLE handle) {
  FILETIME creation, exit, kernel, user;
  get(handle, &creation, &exit, &kernel, &user);
  return ticks(kernel) + ticks(user);
}

DWORD WINAPI spin(LPVOID flag) {
  while (static_cast<std::atomic<bool>*>(flag)->load(std::memory_order_relaxed)) {
  }
  return 0;
}

// One listing for the whole suite, made with two children running and one
// thread of this process spinning.
struct Listing {
  hk::test::ScratchDir scratch;
  fs::path image = scratch.path() / L"Proze\u00df Ordner" / kImageName;
  std::unique_ptr<ChildProcess> plain, busy;
  SYSTEMTIME beforeStart{}, afterStart{};
  int returned = 0;
  double spinnerPercent = 0;  // the share of all processors the spinner got
  uint64_t ownSecondsBefore = 0, ownSecondsAfter = 0;
  std::string text;
  Json::Value envelope;

  Listing() {
    fs::create_directories(image.parent_path());
    if (!::CopyFileW(hk::test::SleeperPath().c_str(), image.c_str(), FALSE)) return;
    ::GetLocalTime(&beforeStart);
    // Spaces, non-ASCII text and a command line longer than a page.
    plain =
        ChildProcess::Start(image, L"\"with  spaces\" \u00fcn\u00efc\u00f6d\u00e9 \u2713 " + std::wstring(20000, L'x'));
    busy = ChildProcess::Start(image, L"second", 3);
    // Set afterwards: Wine ignores a priority class among the creation flags.
    if (busy) ::SetPriorityClass(busy->handle(), BELOW_NORMAL_PRIORITY_CLASS);
    ::GetLocalTime(&afterStart);
    char* outcome = nullptr;
    std::atomic<bool> spinning{true};
    const hk::unique_handle spinner(::CreateThread(nullptr, 0, spin, &spinning, 0, nullptr));
    FILETIME wall0, wall1;
    ::GetSystemTimeAsFileTime(&wall0);
    const uint64_t spun0 = cpu_ticks(::GetThreadTimes, spinner.get());
    ownSecondsBefore = cpu_ticks(::GetProcessTimes, ::GetCurrentProcess()) / 10000000u;
    returned = LocalProcess::get_details(&outcome, "web-42");
    ownSecondsAfter = cpu_ticks(::GetProcessTimes, ::GetCurrentProcess()) / 10000000u;
    const uint64_t spun1 = cpu_ticks(::GetThreadTimes, spinner.get());
    ::GetSystemTimeAsFileTime(&wall1);
    spinning = false;
    ::WaitForSingleObject(spinner.get(), INFINITE);
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    spinnerPercent = 100.0 * static_cast<double>(spun1 - spun0) / static_cast<double>(ticks(wall1) - ticks(wall0)) /
                     system.dwNumberOfProcessors;
    if (outcome && !hk::IsOutcomeWord(outcome)) {
      text = outcome;
      hk::FreeText(outcome);
      Json::Reader().parse(text, envelope);
    }
  }
  const Json::Value& list() const { return envelope["responseMessage"]["responseData"]["data"]; }
  const Json::Value* row(DWORD pid) const {
    for (const Json::Value& r : list())
      if (r["pid"] == std::to_string(pid)) return &r;
    return nullptr;
  }
};

class ProcessListing : public ::testing::Test {
 protected:
  void SetUp() override {
    static const Listing listing;
    l_ = &listing;
    ASSERT_TRUE(l_->plain && l_->busy) << "the children did not start";
    ASSERT_EQ(l_->returned, 1);
    ASSERT_TRUE(l_->list().isArray()) << l_->text;
  }
  const Listing* l_ = nullptr;
};

}  // namespace

TEST_F(ProcessListing, DescribesTheChildren) {
  const Json::Value& e = l_->envelope;
  EXPECT_TRUE(e["toolId"] == "1" && e["responseId"] == "1" && e["webClientId"] == "web-42") << l_->text;
  EXPECT_EQ(e["responseMessage"]["responseCode"], "1301");
  wchar_t user[256];
  DWORD chars = 256;
  ASSERT_TRUE(::GetUserNameW(user, &chars));
  for (const ChildProcess* child : {l_->plain.get(), l_->busy.get()}) {
    const Json::Value* r = l_->row(child->pid());
    ASSERT_NE(r, nullptr) << "child " << child->pid() << " missing";
    EXPECT_EQ((*r)["name"], ToUtf8(kImageName));
    EXPECT_EQ((*r)["path"], ToUtf8(l_->image.wstring()));
    EXPECT_EQ((*r)["command_line"], ToUtf8(child->command_line()));
    EXPECT_EQ((*r)["status"], "Running");
    EXPECT_EQ((*r)["description"], kDescription);
    EXPECT_EQ((*r)["user_name"], ToUtf8(user));
    EXPECT_GT((*r)["working_set"].asUInt64(), 0u);
    EXPECT_GE((*r)["peak_working"].asUInt64(), (*r)["working_set"].asUInt64());
    const std::string started = (*r)["time"].asString();
    EXPECT_TRUE(started == hk::processes::FormatCreationTime(l_->beforeStart) ||
                started == hk::processes::FormatCreationTime(l_->afterStart))
        << started;
    DWORD session = 0;
    ASSERT_TRUE(::ProcessIdToSessionId(child->pid(), &session));
    EXPECT_EQ((*r)["sid"], std::to_string(session));
  }
  const Json::Value& plain = *l_->row(l_->plain->pid());
  const Json::Value& busy = *l_->row(l_->busy->pid());
  EXPECT_EQ(std::stoi(busy["thread_count"].asString()) - std::stoi(plain["thread_count"].asString()), 3);
  EXPECT_EQ(plain["priority"], "NORMAL_PRIORITY_CLASS");
  EXPECT_EQ(busy["priority"], "BELOW_NORMAL_PRIORITY_CLASS");
}

TEST_F(ProcessListing, EveryProcessOnceAndItsOwnSpinningThreadSampled) {
  std::set<std::string> pids;
  for (const Json::Value& r : l_->list()) {
    EXPECT_TRUE(pids.insert(r["pid"].asString()).second) << "duplicate pid " << r["pid"];
    EXPECT_TRUE(r["cpu"].isInt() && r["cpu"].asInt() >= 0 && r["cpu"].asInt() <= 100) << r;
  }
  const Json::Value* self = l_->row(::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  EXPECT_GE((*self)["cpu_time"].asUInt64(), l_->ownSecondsBefore);
  EXPECT_LE((*self)["cpu_time"].asUInt64(), l_->ownSecondsAfter);
  // About 100 / processors on a quiet machine, less when others compete; the
  // sample covers a quarter second of the listing, so allow for the load to vary.
  ASSERT_GT(l_->spinnerPercent, 3.0) << "the spinner did not run";
  EXPECT_NEAR((*self)["cpu"].asInt(), l_->spinnerPercent, std::max(8.0, l_->spinnerPercent * 0.6));
}

// ---- pieces of the listing on their own --------------------------------------

TEST(ProcessPieces, DescriptionIsRememberedOnlyWhileTheFileStaysTheSame) {
  hk::test::ScratchDir scratch;
  const fs::path image = scratch.path() / L"tool.exe";
  ASSERT_TRUE(::CopyFileW(hk::test::SleeperPath().c_str(), image.c_str(), FALSE));
  EXPECT_EQ(hk::processes::FileDescriptionOf(image.wstring()), hk::FromUtf8(kDescription));
  // Replaced by a file without a version resource.
  ASSERT_TRUE(::CopyFileW((hk::test::ExecutableFolder() / L"process_tests.exe").c_str(), image.c_str(), FALSE));
  EXPECT_EQ(hk::processes::FileDescriptionOf(image.wstring()), std::nullopt);
  EXPECT_EQ(hk::processes::FileDescriptionOf((scratch.path() / L"gone.exe").wstring()), std::nullopt);
}

TEST(ProcessPieces, HandlesThatCanReadMemoryAreNeverInheritedAndAGoneProcessHasNoCommandLine) {
  auto child = ChildProcess::Start(hk::test::SleeperPath(), L"handles");
  ASSERT_TRUE(child);
  for (const DWORD pid : {::GetCurrentProcessId(), child->pid()}) {
    const auto opened = hk::processes::OpenForListing(pid);
    DWORD flags = 0;
    ASSERT_TRUE(::GetHandleInformation(opened.handle.get(), &flags)) << pid;
    EXPECT_TRUE(opened.canRead) << pid;
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u) << pid;
  }
  const DWORD gone = child->pid();
  child.reset();
  for (const DWORD pid : {gone, DWORD{0}}) {
    std::wstring out = L"stale";
    EXPECT_EQ(Process::GetCommandLine(pid, out), 0) << pid;
    EXPECT_EQ(out, L"") << pid;
  }
}
