// The log: its formatter, file, headers, rotation and writers; and where it
// goes when a plain host process loads the library.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/text.h"
#include "infra/log.h"
#include "infra/log_internal.h"
#include "support/log_capture.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;
using hk::logging::FormatMessage;

namespace {

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Runs the probe from folder (copied there with the DLLs) with folder as its
// working directory; returns its exit code.
DWORD run_probe_in(const fs::path& folder) {
  fs::create_directories(folder);
  for (const char* name : {"dll_load_probe.exe", "Hostkeeper.dll", "ClientSocket.dll"})
    fs::copy_file(hk::test::ExecutableFolder() / name, folder / name, fs::copy_options::overwrite_existing);
  std::wstring command = L"\"" + (folder / "dll_load_probe.exe").wstring() + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
    return static_cast<DWORD>(-1);
  ::WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = static_cast<DWORD>(-2);
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return code;
}

void expect_started_log(const fs::path& log) {
  ASSERT_TRUE(fs::exists(log)) << log;
  const std::string text = read_file(log);
  // The banner is the first entry of a new file, which carries only the time.
  const std::string first = "\r\n\\d\\d:\\d\\d:\\d\\d  ";
  const std::string entry = "\r\n\\d+ \\d\\d:\\d\\d:\\d\\d:\\d{1,3}  ";
  EXPECT_TRUE(
      std::regex_search(text, std::regex(first + "[\\w.-]+ @ Date:\\w{3} [ \\d]\\d \\d{4} @ \\d\\d:\\d\\d:\\d\\d\r\n")))
      << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(entry + "Init instance : Host Keeper$"))) << text;
}

// Each test gets its own working directory and a log set up the way a host
// outside the agent folders gets it, its level not yet set.
class LogFile : public ::testing::Test {
 protected:
  static void Restart() {
    hk::logging::ResetForTesting();
    InitLog(L"ToolsSys", L"o.1", L"ToolsSys.log", false, L"", true);
  }
  fs::path log_dir() const { return log_.folder(); }
  fs::path numbered(int i) const { return log_dir() / ("ToolsSys" + std::to_string(i) + ".log"); }
  std::string text() const { return read_file(log_dir() / "ToolsSys.log"); }

  hk::test::LogCapture log_{0};
};

}  // namespace

TEST(LogFormat, TheConversionsItKnowsAndNoOthers) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {FormatMessage(L"%d|%u|%x|%ld|%s", -12, 4000000000u, 0xbeefu, -7L, L"wide"), L"-12|4000000000|beef|-7|wide"},
      {FormatMessage(L"%f", 1.5), L"1.500000"},
      {hk::Widen(hk::logging::FormatMessageNarrow("%s=%d", "cmd", 3)), L"cmd=3"},
      // Not understood: copied as they stand, taking no argument.
      {FormatMessage(L"a%Sb%.2d|%d", 42), L"a%Sb%.2d|42"},
      {FormatMessage(L"100%% %q"), L"100%% %q"},
      {FormatMessage(L"%lu|%d", 5), L"u|5"},  // a lone l is dropped
      {FormatMessage(L"end%"), L"end%"},
      {FormatMessage(L"[%s][%s]", static_cast<const wchar_t*>(nullptr), L"ok"), L"[][ok]"},
      {FormatMessage(L"[%s]", reinterpret_cast<const wchar_t*>(16)), L"[]"},
      {hk::logging::EntryLine(4711, 9, 5, 3, 7, L"text"), L"\n4711 09:05:03:7  text"},
      {hk::logging::EntryLine(1, 23, 59, 59, 999, L""), L"\n1 23:59:59:999  "},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "row " << i;
}

TEST_F(LogFile, NewFileBytesAreExactThenRestartHeaderAndLineCount) {
  EXPECT_FALSE(fs::exists(log_dir() / "ToolsSys.log"))
      << "the banner inside InitLog is filtered until the level is set";
  EXPECT_EQ(WriteLog(L"dropped"), 0);
  ASSERT_EQ(SetLogLevel(2), 1);
  ASSERT_EQ(WriteLog(L"first \u00e9\u0141"), 1);
  ASSERT_EQ(WriteLog(L"second\nline"), 1);
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  char date[16];
  std::snprintf(date, sizeof date, "%.2d-%.2d-%.4d", now.wDay, now.wMonth, now.wYear);
  const std::string stars(84, '*');
  const std::string head = "\r\n" + stars + "\r\n\t\t\tLogging started from: [" + date +
                           "] \r\n\t\t\tProduct Name: ToolsSys \r\n\t\t\tVersion: o.1\r\n" + stars + "\r\n\r\n" +
                           fs::path(hk::logging::State().path).string() + "\r\n";
  const std::string before = text();
  ASSERT_EQ(before.substr(0, head.size()), head);
  // The first entry carries no process id or milliseconds; later ones do. The
  // runtime's locale keeps U+00E9 as its byte and cannot write U+0141.
  const std::regex rest("\r\n\\d\\d:\\d\\d:\\d\\d  first \xE9\\?\r\n" + std::to_string(::GetCurrentProcessId()) +
                        " \\d\\d:\\d\\d:\\d\\d:\\d{1,3}  second\r\nline");
  EXPECT_TRUE(std::regex_match(before.substr(head.size()), rest)) << before.substr(head.size());
  EXPECT_EQ(hk::logging::State().lineCount, 9);

  hk::logging::ResetForTesting();
  Restart();
  const std::string after = text();
  ASSERT_EQ(after.rfind(before, 0), 0u);
  const std::string added = after.substr(before.size());
  EXPECT_EQ(added.rfind("\r\n\r\n" + stars + "\r\n\t\t\tLogging started from: [", 0), 0u) << added;
  EXPECT_NE(added.find("][GMT] \r\n"), std::string::npos);
  EXPECT_NE(added.find(fs::path(hk::logging::State().path).string() + "\r\n"), std::string::npos) << added;
  EXPECT_TRUE(added.ends_with("PDT TIME STARTED\r\n")) << added;
  EXPECT_EQ(hk::logging::State().lineCount, std::count(before.begin(), before.end(), '\n') + 9)
      << "the lines found in the file, and the header's";
}

TEST_F(LogFile, LevelGate) {
  EXPECT_EQ(WriteLog(L"x"), 0);
  EXPECT_EQ(WriteLogLevel1(L"x"), 0);
  EXPECT_EQ(WriteLogLevel0(L"level0"), 1);
  EXPECT_EQ(SetLogLevel(1), 1);
  EXPECT_EQ(WriteLog(L"x"), 0);
  EXPECT_EQ(WriteLogLevel1(L"level1"), 1);
  EXPECT_EQ(SetLogLevel(3), 0);
  EXPECT_EQ(hk::logging::State().threshold, 1);
  EXPECT_EQ(SetLogLevel(2), 1);
  EXPECT_EQ(WriteLog(nullptr), 0);
  EXPECT_EQ(WriteLog(L""), 0);
  EXPECT_EQ(WriteLogA("narrow %s %d", "text", 7), 1);
  for (const char* entry : {"  level0", "  level1", "  narrow text 7"})
    EXPECT_NE(text().find(entry), std::string::npos) << entry;
}

TEST_F(LogFile, RotationShiftsCopiesAndDropsTheEleventhGeneration) {
  SetLogLevel(2);
  WriteLog(L"current generation");
  for (int i = 1; i <= 10; ++i) std::ofstream(numbered(i)) << "gen" << i;

  hk::logging::SetLineCountForTesting(4999);
  WriteLog(L"the 5000th line");
  EXPECT_EQ(read_file(numbered(1)), "gen1") << "no rotation before the count reaches 5000";
  WriteLog(L"after rotation");

  EXPECT_NE(read_file(numbered(1)).find("current generation"), std::string::npos);
  EXPECT_NE(read_file(numbered(1)).find("the 5000th line"), std::string::npos);
  for (int i = 2; i <= 10; ++i) EXPECT_EQ(read_file(numbered(i)), "gen" + std::to_string(i - 1));
  EXPECT_FALSE(fs::exists(numbered(11)));
  const std::string fresh = text();
  EXPECT_EQ(fresh.find("current generation"), std::string::npos);
  EXPECT_NE(fresh.find("\r\nTIME----"), std::string::npos);
  EXPECT_TRUE(std::regex_search(
      fresh,
      std::regex("The time is \\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{1,3} \\d{4}\r\n  after rotation$")))
      << fresh;
  EXPECT_EQ(hk::logging::State().lineCount, 8);
}

TEST_F(LogFile, UnreadableFileAtStartIsAFinalFailure) {
  // A folder where the file should be cannot be opened for reading.
  fs::create_directories(log_dir() / "ToolsSys.log");
  Restart();
  SetLogLevel(2);
  EXPECT_EQ(WriteLog(L"x"), 0);
  fs::remove(log_dir() / "ToolsSys.log");
  EXPECT_EQ(WriteLog(L"still off"), 0);
  EXPECT_EQ(WriteLogLevel0(L"still off"), 0);
  EXPECT_FALSE(fs::exists(log_dir() / "ToolsSys.log"));
}

TEST_F(LogFile, ConcurrentWritersLoseAndTearNothing) {
  // Enough entries for more generations than the ten copies keep, so the
  // oldest part is dropped and what is kept can be checked for gaps.
  SetLogLevel(2);
  constexpr int kThreads = 8, kEntries = 10000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kEntries; ++i) WriteLog(L"writer %d entry %d end", t, i);
    });
  for (auto& th : threads) th.join();

  // A new file counts 8 lines with its first entry and rotates at 5000.
  constexpr int kPerFile = 5000 - 8 + 1, kTotal = kThreads * kEntries;
  const int inCurrent = (kTotal - 1) % kPerFile + 1;
  static_assert((kTotal - 1) / kPerFile > 10, "the run must outgrow the kept copies");
  EXPECT_EQ(hk::logging::State().lineCount, 7 + inCurrent);
  EXPECT_FALSE(fs::exists(log_dir() / "ToolsSys11.log"));
  EXPECT_FALSE(fs::exists(log_dir() / "ToolsSys0.log"));

  // Oldest first: ToolsSys10.log ... ToolsSys1.log, then the current file.
  // Every line that holds an entry is whole: an ordinary entry, the first
  // entry of the very first file (no id), or the one after a rotation line.
  const std::regex whole("(?:\\d+ \\d\\d:\\d\\d:\\d\\d:\\d{1,3}|\\d\\d:\\d\\d:\\d\\d|)  writer (\\d) entry (\\d+) end");
  const std::regex rotationLine("The time is \\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{1,3} \\d{4}");
  std::vector<int> next(kThreads, -1);  // per writer: the entry expected next, -1 before the first kept one
  for (int generation = 10; generation >= 0; --generation) {
    const fs::path file = generation == 0 ? log_dir() / "ToolsSys.log" : numbered(generation);
    SCOPED_TRACE(file.filename().string());
    const std::string text = read_file(file);
    ASSERT_EQ(text.rfind("\r\n" + std::string(84, '*') + "\r\n", 0), 0u) << "each file starts with its header";
    size_t inFile = 0;
    int rotationLines = 0;
    bool inEntries = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::smatch m;
      if (std::regex_match(line, m, whole)) {
        inEntries = true;
        ++inFile;
        const int t = std::stoi(m[1]), i = std::stoi(m[2]);
        ASSERT_LT(t, kThreads) << line;
        if (next[t] < 0) next[t] = i;
        ASSERT_EQ(i, next[t]) << "writer " << t << ": a gap or a repeat in the kept entries";
        ++next[t];
      } else {
        // Before the entries only the header and the rotation line; after
        // the first entry every line is one.
        ASSERT_FALSE(inEntries) << "torn or foreign line: " << line.substr(0, 200);
        ASSERT_EQ(line.find("writer"), std::string::npos) << "entry not whole: " << line.substr(0, 200);
        rotationLines += std::regex_match(line, rotationLine);
      }
    }
    EXPECT_EQ(rotationLines, 1) << "each kept file was started by a rotation";
    EXPECT_EQ(inFile, static_cast<size_t>(generation == 0 ? inCurrent : kPerFile));
  }
  // Each writer's kept entries run without a gap up to its last one, so what
  // is missing is its oldest part.
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kEntries) << "writer " << t << " lost its newest entries";
}

TEST_F(LogFile, AnOversizedEntryKeepsItsStartAndSaysWhatWasLeftOut) {
  SetLogLevel(2);
  const std::wstring huge = L"<" + std::wstring(100000, L'r') + L">";
  WriteLog(L"request %s", huge.c_str());
  const size_t kept = hk::logging::kMaxEntryChars;
  EXPECT_NE(text().find("  request <" + std::string(kept - 9, 'r') + " ... [" + std::to_string(huge.size() + 8 - kept) +
                        " characters left out]"),
            std::string::npos)
      << text().substr(0, 200);
  EXPECT_EQ(text().find(std::string(kept, 'r')), std::string::npos);
  WriteLog(L"after");
  EXPECT_NE(text().find("  after"), std::string::npos);
}

// Loading the library into a plain host process sets the log up where the
// host's working directory says.
TEST(DllStart, AgentLayoutLogsBesideTheExecutablesFolder) {
  hk::test::ScratchDir scratch;
  const fs::path bin = scratch.path() / "Tanglewick_Agent" / "bin";
  ASSERT_EQ(run_probe_in(bin), 0u);
  const fs::path log = scratch.path() / "Tanglewick_Agent" / "logs" / "ToolsSys.log";
  expect_started_log(log);
  EXPECT_EQ(read_file(log).find("PDT TIME STARTED"), std::string::npos);

  // A second start finds file and folder: the start-up header goes in.
  ASSERT_EQ(run_probe_in(bin), 0u);
  const std::string text = read_file(log);
  EXPECT_NE(text.find("][GMT] \r\n"), std::string::npos);
  EXPECT_NE(text.find("PDT TIME STARTED\r\n"), std::string::npos);
  EXPECT_NE(text.find((bin / "dll_load_probe.exe").string() + "\r\n"), std::string::npos) << text;
}

TEST(DllStart, OtherHostsLogInTheirWorkingDirectoryOrUnderTheQuillsteadFolder) {
  wchar_t appData[MAX_PATH];
  ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
  const fs::path quillstead = fs::path(appData) / "Quillstead";
  ASSERT_FALSE(fs::exists(quillstead)) << "left over from another run";
  hk::test::ScratchDir scratch;
  ASSERT_EQ(run_probe_in(scratch.path() / "first"), 0u);
  expect_started_log(scratch.path() / "first" / "log" / "ToolsSys.log");

  fs::create_directories(quillstead);
  const DWORD code = run_probe_in(scratch.path() / "second");
  const fs::path log = quillstead / "log" / "ToolsSys.log";
  const bool found = fs::exists(log);
  if (found) expect_started_log(log);
  fs::remove_all(quillstead);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(found);
  EXPECT_FALSE(fs::exists(scratch.path() / "second" / "log"));
}
