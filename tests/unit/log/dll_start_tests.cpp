// Loading the library into a plain host process sets the log up where the
// host's working directory says.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

fs::path bin_dir() {
  wchar_t exe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  return fs::path(exe).parent_path();
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the probe from folder (copied there with the DLLs) with folder as its
// working directory; returns its exit code.
DWORD run_probe_in(const fs::path& folder) {
  fs::create_directories(folder);
  for (const char* name : {"dll_load_probe.exe", "Hostkeeper.dll", "ClientSocket.dll"})
    fs::copy_file(bin_dir() / name, folder / name, fs::copy_options::overwrite_existing);
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

fs::path local_app_data() {
  wchar_t buf[MAX_PATH];
  ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf);
  return buf;
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

}  // namespace

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
  const fs::path quillstead = local_app_data() / "Quillstead";
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
