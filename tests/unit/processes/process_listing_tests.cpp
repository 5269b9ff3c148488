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
#include <regex>
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

const wchar_t kFolderName[] = L"Proze\u00df Ordner";
const wchar_t kImageName[] = L"hk sleeper \u00fc.exe";
const wchar_t kPlainArguments[] = L"first \"with  spaces\" \u00fcn\u00efc\u00f6d\u00e9 \u2713";
const char kDescription[] = "Idle child of the process tool tests";

std::string time_text(const SYSTEMTIME& t) { return hk::processes::FormatCreationTime(t); }

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

class ProcessListing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new hk::test::ScratchDir;
    const fs::path folder = scratch_->path() / kFolderName;
    fs::create_directories(folder);
    image_ = folder / kImageName;
    if (!::CopyFileW(hk::test::SleeperPath().c_str(), image_.c_str(), FALSE)) return;

    ::GetLocalTime(&beforeStart_);
    plain_ = ChildProcess::Start(image_, kPlainArguments).release();
    busy_ = ChildProcess::Start(image_, L"second", 3).release();
    // Set afterwards: Wine ignores a priority class among the creation flags.
    if (busy_) ::SetPriorityClass(busy_->handle(), BELOW_NORMAL_PRIORITY_CLASS);
    ::GetLocalTime(&afterStart_);

    char* outcome = nullptr;
    {
      Spinner spinner;
      ownSecondsBefore_ = own_cpu_seconds();
      returned_ = LocalProcess::get_details(&outcome, "web-42");
      ownSecondsAfter_ = own_cpu_seconds();
      ownCpuDuringListing_ = spinner.percent_since_mark();
    }

    if (outcome && !hk::IsOutcomeWord(outcome)) {
      text_ = outcome;
      hk::FreeText(outcome);
      Json::Reader().parse(text_, envelope_);
    }
  }

  static void TearDownTestSuite() {
    delete plain_;
    delete busy_;
    delete scratch_;
  }

  void SetUp() override {
    ASSERT_NE(plain_, nullptr) << "the first child did not start";
    ASSERT_NE(busy_, nullptr) << "the second child did not start";
    ASSERT_EQ(returned_, 1);
    ASSERT_TRUE(list().isArray()) << text_;
  }

  static const Json::Value& list() { return envelope_["responseMessage"]["responseData"]["data"]; }

  static const Json::Value* row(DWORD pid) {
    const Json::Value* found = nullptr;
    for (const Json::Value& r : list()) {
      if (r["pid"] == std::to_string(pid)) {
        EXPECT_EQ(found, nullptr) << "pid " << pid << " is listed twice";
        found = &r;
      }
    }
    return found;
  }

  static hk::test::ScratchDir* scratch_;
  static fs::path image_;
  static ChildProcess* plain_;
  static ChildProcess* busy_;
  static SYSTEMTIME beforeStart_, afterStart_;
  static int returned_;
  static double ownCpuDuringListing_;
  static uint64_t ownSecondsBefore_, ownSecondsAfter_;
  static std::string text_;
  static Json::Value envelope_;
};

hk::test::ScratchDir* ProcessListing::scratch_ = nullptr;
fs::path ProcessListing::image_;
ChildProcess* ProcessListing::plain_ = nullptr;
ChildProcess* ProcessListing::busy_ = nullptr;
SYSTEMTIME ProcessListing::beforeStart_{}, ProcessListing::afterStart_{};
int ProcessListing::returned_ = 0;
double ProcessListing::ownCpuDuringListing_ = 0;
uint64_t ProcessListing::ownSecondsBefore_ = 0, ProcessListing::ownSecondsAfter_ = 0;
std::string ProcessListing::text_;
Json::Value ProcessListing::envelope_;

}  // namespace

TEST_F(ProcessListing, AnswersWithTheLegacySuccessEnvelope) {
  EXPECT_EQ(envelope_["toolId"], "1");
  EXPECT_EQ(envelope_["responseId"], "1");
  EXPECT_EQ(envelope_["isSuccess"], "true");
  EXPECT_EQ(envelope_["webClientId"], "web-42");
  EXPECT_EQ(envelope_["responseMessage"]["responseCode"], "1301");
  EXPECT_EQ(envelope_["responseMessage"]["isPagedResponse"], "False");
  EXPECT_EQ(text_.back(), '\n');
}

TEST_F(ProcessListing, FindsChildrenByNamePathAndCommandLine) {
  for (const ChildProcess* child : {plain_, busy_}) {
    const Json::Value* r = row(child->pid());
    ASSERT_NE(r, nullptr) << "child " << child->pid() << " missing";
    EXPECT_EQ((*r)["name"], ToUtf8(kImageName));
    EXPECT_EQ((*r)["path"], ToUtf8(image_.wstring()));
    EXPECT_EQ((*r)["command_line"], ToUtf8(child->command_line()));
    EXPECT_EQ((*r)["status"], "Running");
    EXPECT_EQ((*r)["description"], kDescription);
    ASSERT_TRUE((*r)["working_set"].isUInt64());
    EXPECT_GT((*r)["working_set"].asUInt64(), 0u);
    EXPECT_GE((*r)["peak_working"].asUInt64(), (*r)["working_set"].asUInt64());
    EXPECT_TRUE((*r)["read_operation_count"].isUInt());
  }
  EXPECT_NE(ToUtf8(plain_->command_line()).find(ToUtf8(kPlainArguments)), std::string::npos);
}

TEST_F(ProcessListing, CountsThreadsAndReadsPriority) {
  const Json::Value* plain = row(plain_->pid());
  const Json::Value* busy = row(busy_->pid());
  ASSERT_TRUE(plain && busy);
  const int plainThreads = std::stoi((*plain)["thread_count"].asString());
  const int busyThreads = std::stoi((*busy)["thread_count"].asString());
  EXPECT_GE(plainThreads, 1);
  EXPECT_EQ(busyThreads - plainThreads, 3);
  EXPECT_EQ((*plain)["priority"], "NORMAL_PRIORITY_CLASS");
  EXPECT_EQ((*busy)["priority"], "BELOW_NORMAL_PRIORITY_CLASS");
}

TEST_F(ProcessListing, OwnerCreationTimeAndSessionOfChildren) {
  const Json::Value* self = row(::GetCurrentProcessId());
  const Json::Value* plain = row(plain_->pid());
  ASSERT_TRUE(self && plain);
  wchar_t user[256];
  DWORD chars = 256;
  ASSERT_TRUE(::GetUserNameW(user, &chars));
  EXPECT_EQ((*plain)["user_name"], ToUtf8(user));
  EXPECT_EQ((*self)["user_name"], ToUtf8(user));

  const std::string started = (*plain)["time"].asString();
  EXPECT_TRUE(started == time_text(beforeStart_) || started == time_text(afterStart_)) << started;

  DWORD session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(plain_->pid(), &session));
  EXPECT_EQ((*plain)["sid"], std::to_string(session));
}

TEST_F(ProcessListing, ReadsItsOwnProcess) {
  const Json::Value* self = row(::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  wchar_t path[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  EXPECT_EQ((*self)["path"], ToUtf8(path));
  EXPECT_EQ((*self)["command_line"], ToUtf8(::GetCommandLineW()));
  EXPECT_EQ((*self)["status"], "Running");
  ASSERT_TRUE((*self)["cpu_time"].isUInt64());
  EXPECT_GE((*self)["cpu_time"].asUInt64(), ownSecondsBefore_);
  EXPECT_LE((*self)["cpu_time"].asUInt64(), ownSecondsAfter_);
}

TEST_F(ProcessListing, SamplesTheSpinningThreadOfThisProcess) {
  const Json::Value* self = row(::GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  ASSERT_TRUE((*self)["cpu"].isInt());
  // About 100 / processors on a quiet machine, less when others compete; the
  // sample covers a quarter second of the listing, so allow for the load to vary.
  const double expected = ownCpuDuringListing_;
  ASSERT_GT(expected, 3.0) << "the spinner did not run";
  EXPECT_NEAR((*self)["cpu"].asInt(), expected, std::max(8.0, expected * 0.6)) << "of " << processor_count();
}

TEST_F(ProcessListing, EveryRowHasTheAlwaysMembersWithTheirTypes) {
  std::set<std::string> pids;
  const std::regex digits("[0-9]+");
  for (const Json::Value& r : list()) {
    for (const char* key : {"name", "command_line", "pid", "sid", "handle_count", "thread_count"}) {
      EXPECT_TRUE(r[key].isString()) << key << " in " << r.toStyledString();
    }
    EXPECT_TRUE(std::regex_match(r["pid"].asString(), digits));
    EXPECT_TRUE(std::regex_match(r["thread_count"].asString(), digits));
    EXPECT_TRUE(std::regex_match(r["handle_count"].asString(), digits));
    EXPECT_TRUE(r["cpu"].isInt());
    EXPECT_GE(r["cpu"].asInt(), 0);
    EXPECT_LE(r["cpu"].asInt(), 100);
    EXPECT_TRUE(pids.insert(r["pid"].asString()).second) << "duplicate pid " << r["pid"];
    if (r.isMember("status")) {
      EXPECT_TRUE(r["time"].isString());
      EXPECT_TRUE(r["cpu_time"].isUInt64());
    } else {
      EXPECT_EQ(r["handle_count"], "0");
      EXPECT_FALSE(r.isMember("path"));
    }
  }
  EXPECT_GE(pids.size(), 3u);
}

// ---- pieces of the listing on their own --------------------------------------

TEST(ProcessCommandLine, ReadsThisProcessAndAChildExactly) {
  std::wstring out = L"stale";
  EXPECT_EQ(Process::GetCommandLine(::GetCurrentProcessId(), out), 1);
  EXPECT_EQ(out, ::GetCommandLineW());

  // A long command line is read whole.
  const std::wstring arguments = L"\u00e9" + std::wstring(20000, L'x') + L" end";
  auto child = ChildProcess::Start(hk::test::SleeperPath(), arguments);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(Process::GetCommandLine(child->pid(), out), 1);
  EXPECT_EQ(out, child->command_line());
}

TEST(ProcessCommandLine, AProcessThatIsGoneReadsEmpty) {
  auto child = ChildProcess::Start(hk::test::SleeperPath(), L"");
  ASSERT_NE(child, nullptr);
  const DWORD pid = child->pid();
  child.reset();
  std::wstring out = L"stale";
  EXPECT_EQ(Process::GetCommandLine(pid, out), 0);
  EXPECT_EQ(out, L"");
  EXPECT_EQ(Process::GetCommandLine(0, out), 0);
  EXPECT_EQ(out, L"");
}

TEST(ProcessDescription, TakesTheFirstTranslationThatHasOne) {
  EXPECT_EQ(hk::processes::ReadFileDescription(hk::test::SleeperPath().wstring()), hk::FromUtf8(kDescription));
  EXPECT_EQ(hk::processes::ReadFileDescription(L"C:\\no\\such\\file.exe"), std::nullopt);
}

TEST(ProcessDescription, IsRememberedOnlyWhileTheFileStaysTheSame) {
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

TEST(ProcessCpuSample, ThisProcessSpinningAndIdle) {
  const unsigned n = processor_count();
  // Idle (this thread sleeps inside the sample).
  EXPECT_LE(Process::SampleCpuUsage(::GetCurrentProcessId(), n), 10);

  Spinner spinner;
  ::Sleep(50);  // under way
  spinner.mark();
  const int busy = Process::SampleCpuUsage(::GetCurrentProcessId(), n);
  const double expected = spinner.percent_since_mark();
  ASSERT_GT(expected, 3.0) << "the spinner did not run";
  EXPECT_NEAR(busy, expected, std::max(8.0, expected * 0.3));
  // Counted per processor: twice the share on one processor would be wrong.
  EXPECT_LE(busy, 100 / static_cast<int>(n) + 8);
  EXPECT_EQ(Process::SampleCpuUsage(0xFFFFFFF0u, n), 0);
}

TEST(ProcessHandles, AHandleThatCanReadMemoryIsNeverInherited) {
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
}

TEST(ProcessHandles, ProcessorCountCoversEveryGroup) {
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  // Identical where one group holds every processor, as on this machine.
  EXPECT_EQ(hk::processes::ActiveProcessorCount(), ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
  EXPECT_GE(hk::processes::ActiveProcessorCount(), system.dwNumberOfProcessors);
}
