// The listing against real processes: children with spaces and non-ASCII
// text in paths and command lines, and this process spinning one thread.
#include <windows.h>
#include <json/reader.h>
#include <json/writer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "core/messages.h"
#include "core/text.h"
#include "processes/child_process.h"
#include "support/scratch_dir.h"
#include "support/wire_texts.h"
#include "tools/processes/local_process.h"
#include "tools/processes/process_collect.h"
#include "tools/processes/process.h"
#include "tools/processes/process_render.h"

namespace fs = std::filesystem;
using hk::ToUtf8;
using hk::test::ChildProcess;

namespace {

const wchar_t kImageName[] = L"hk sleeper \u00fc.exe";
const char kDescription[] = "Idle child of the process tool tests";

// Kernel plus user time of a process or thread, in seconds.
template <typename Get>
double cpu_seconds(Get get, HANDLE handle) {
  FILETIME creation, exit, times[2];
  get(handle, &creation, &exit, &times[0], &times[1]);
  double sum = 0;
  for (const FILETIME& t : times) sum += ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  return sum;
}

// One listing for the whole suite, made with two children running and one
// thread of this process spinning.
struct Listing {
  hk::test::ScratchDir scratch;
  fs::path image = scratch.path() / L"Proze\u00df Ordner" / kImageName;
  std::unique_ptr<ChildProcess> plain, busy;
  SYSTEMTIME beforeStart{}, afterStart{};
  int returned = 0;
  double spinnerPercent = 0;  // of all processors' time while the listing ran
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

    std::atomic<bool> spinning{true};
    double spun = 0;
    const auto start = std::chrono::steady_clock::now();
    std::thread spinner([&] {
      while (spinning) {
      }
      spun = cpu_seconds(::GetThreadTimes, ::GetCurrentThread());
    });
    char* outcome = nullptr;
    ownSecondsBefore = static_cast<uint64_t>(cpu_seconds(::GetProcessTimes, ::GetCurrentProcess()));
    returned = LocalProcess::get_details(&outcome, "web-42");
    ownSecondsAfter = static_cast<uint64_t>(cpu_seconds(::GetProcessTimes, ::GetCurrentProcess()));
    spinning = false;
    spinner.join();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    spinnerPercent = 100.0 * spun / wall.count() / std::thread::hardware_concurrency();
    text = hk::test::TakeOutcome(outcome);
    Json::Reader().parse(text, envelope);
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
    EXPECT_EQ(hk::processes::Process::GetCommandLine(pid, out), 0) << pid;
    EXPECT_EQ(out, L"") << pid;
  }
}
