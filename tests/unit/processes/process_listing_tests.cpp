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
const wchar_t kPlainArguments[] = L"first \"with  spaces\" \u00fcn\u00efc\u00f6d\u00e9 \u2713";
const char kDescription[] = "Idle child of the process tool tests";

unsigned processor_count() {
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  return system.dwNumberOfProcessors;
}

uint64_t ticks(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

uint64_t own_cpu_seconds() {
  FILETIME creation, exit, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &creation, &exit, &kernel, &user);
  return (ticks(kernel) + ticks(user)) / 10000000u;
}

// A thread that spins for as long as it lives, and the share of all
// processors it got since a start mark, in percent: what a sample of this
// process over the same time should report, whatever else loads the machine.
class Spinner {
 public:
  Spinner() : thread_(::CreateThread(nullptr, 0, spin, &spin_, 0, nullptr)) { mark(); }
  ~Spinner() {
    spin_ = false;
    ::WaitForSingleObject(thread_.get(), INFINITE);
  }
  void mark() {
    wall_ = wall_now();
    busy_ = busy_now();
  }
  double percent_since_mark() const {
    return static_cast<double>(busy_now() - busy_) / static_cast<double>(wall_now() - wall_) / processor_count() *
           100.0;
  }

 private:
  static DWORD WINAPI spin(LPVOID flag) {
    while (static_cast<std::atomic<bool>*>(flag)->load(std::memory_order_relaxed)) {
    }
    return 0;
  }
  static uint64_t wall_now() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return ticks(now);
  }
  uint64_t busy_now() const {
    FILETIME creation, exit, kernel, user;
    ::GetThreadTimes(thread_.get(), &creation, &exit, &kernel, &user);
    return ticks(kernel) + ticks(user);
  }

  std::atomic<bool> spin_{true};
  hk::unique_handle thread_;
  uint64_t wall_ = 0;
  uint64_t busy_ = 0;
};

// One listing for the whole suite, made with two children running.
struct Listing {
  hk::test::ScratchDir scratch;
  fs::path image = scratch.path() / L"Proze\u00df Ordner" / kImageName;
  std::unique_ptr<ChildProcess> plain, busy;
  SYSTEMTIME beforeStart{}, afterStart{};
  int returned = 0;
  double ownCpu = 0;
  uint64_t ownSecondsBefore = 0, ownSecondsAfter = 0;
  std::string text;
  Json::Value envelope;

  Listing() {
    fs::create_directories(image.parent_path());
    if (!::CopyFileW(hk::test::SleeperPath().c_str(), image.c_str(), FALSE)) return;
    ::GetLocalTime(&beforeStart);
    plain = ChildProcess::Start(image, kPlainArguments);
    busy = ChildProcess::Start(image, L"second", 3);
    // Set afterwards: Wine ignores a priority class among the creation flags.
    if (busy) ::SetPriorityClass(busy->handle(), BELOW_NORMAL_PRIORITY_CLASS);
    ::GetLocalTime(&afterStart);
    char* outcome = nullptr;
    {
      Spinner spinner;
      ownSecondsBefore = own_cpu_seconds();
      returned = LocalProcess::get_details(&outcome, "web-42");
      ownSecondsAfter = own_cpu_seconds();
      ownCpu = spinner.percent_since_mark();
    }
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
  EXPECT_EQ(e["toolId"], "1");
  EXPECT_EQ(e["responseId"], "1");
  EXPECT_EQ(e["webClientId"], "web-42");
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
    ASSERT_TRUE((*r)["working_set"].isUInt64());
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

TEST_F(ProcessListing, ReadsItsOwnProcessAndSamplesItsSpinningThread) {
  const Json::Value* self = l_->row(::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  ASSERT_TRUE((*self)["cpu_time"].isUInt64());
  EXPECT_GE((*self)["cpu_time"].asUInt64(), l_->ownSecondsBefore);
  EXPECT_LE((*self)["cpu_time"].asUInt64(), l_->ownSecondsAfter);
  // About 100 / processors on a quiet machine, less when others compete; the
  // sample covers a quarter second of the listing, so allow for the load to vary.
  ASSERT_GT(l_->ownCpu, 3.0) << "the spinner did not run";
  EXPECT_NEAR((*self)["cpu"].asInt(), l_->ownCpu, std::max(8.0, l_->ownCpu * 0.6)) << "of " << processor_count();
}

// The row's members and their types are the render tests' business.
TEST_F(ProcessListing, EveryProcessOnceWithAPercentage) {
  std::set<std::string> pids;
  for (const Json::Value& r : l_->list()) {
    EXPECT_TRUE(pids.insert(r["pid"].asString()).second) << "duplicate pid " << r["pid"];
    EXPECT_TRUE(r["cpu"].isInt() && r["cpu"].asInt() >= 0 && r["cpu"].asInt() <= 100) << r;
  }
  EXPECT_GE(pids.size(), 3u);
}

// ---- pieces of the listing on their own --------------------------------------

TEST(ProcessPieces, CommandLineWholeOrEmpty) {
  std::wstring out = L"stale";
  EXPECT_EQ(Process::GetCommandLine(::GetCurrentProcessId(), out), 1);
  EXPECT_EQ(out, ::GetCommandLineW());
  auto child = ChildProcess::Start(hk::test::SleeperPath(), L"\u00e9" + std::wstring(20000, L'x') + L" end");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(Process::GetCommandLine(child->pid(), out), 1);
  EXPECT_EQ(out, child->command_line());

  const DWORD gone = child->pid();
  child.reset();
  for (const DWORD pid : {gone, DWORD{0}}) {
    out = L"stale";
    EXPECT_EQ(Process::GetCommandLine(pid, out), 0) << pid;
    EXPECT_EQ(out, L"") << pid;
  }
}

TEST(ProcessPieces, DescriptionIsRememberedOnlyWhileTheFileStaysTheSame) {
  EXPECT_EQ(hk::processes::ReadFileDescription(L"C:\\no\\such\\file.exe"), std::nullopt);
  hk::test::ScratchDir scratch;
  const fs::path image = scratch.path() / L"tool.exe";
  ASSERT_TRUE(::CopyFileW(hk::test::SleeperPath().c_str(), image.c_str(), FALSE));
  EXPECT_EQ(hk::processes::FileDescriptionOf(image.wstring()), hk::FromUtf8(kDescription));
  EXPECT_EQ(hk::processes::FileDescriptionOf(image.wstring()), hk::FromUtf8(kDescription));
  // Replaced by a file without a version resource.
  ASSERT_TRUE(::CopyFileW((hk::test::ExecutableFolder() / L"process_tests.exe").c_str(), image.c_str(), FALSE));
  EXPECT_EQ(hk::processes::FileDescriptionOf(image.wstring()), std::nullopt);
  EXPECT_EQ(hk::processes::FileDescriptionOf((scratch.path() / L"gone.exe").wstring()), std::nullopt);
}

TEST(ProcessPieces, HandlesThatCanReadMemoryAreNeverInheritedAndAllProcessorsCount) {
  const auto child = ChildProcess::Start(hk::test::SleeperPath(), L"handles");
  ASSERT_TRUE(child);
  for (const DWORD pid : {::GetCurrentProcessId(), child->pid()}) {
    const auto opened = hk::processes::OpenForListing(pid);
    ASSERT_TRUE(opened.handle) << pid;
    DWORD flags = 0;
    ASSERT_TRUE(::GetHandleInformation(opened.handle.get(), &flags));
    EXPECT_TRUE(opened.canRead) << pid;
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u) << pid;
  }
  // Identical where one group holds every processor, as on this machine.
  EXPECT_EQ(hk::processes::ActiveProcessorCount(), ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
  EXPECT_GE(hk::processes::ActiveProcessorCount(), processor_count());
}
