// The device action program: its arguments, and the real program under Wine
// for bad arguments and a device that does not exist.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "devexe/devexe_args.h"
#include "devices/devices_test_support.h"
#include "infra/win_resource.h"

namespace {

using devexe::Action;

constexpr const wchar_t* kDisk = L"{4D36E967-E325-11CE-BFC1-08002BE10318}";

TEST(DevExeArguments, AcceptedAndRefused) {
  struct Row {
    std::vector<std::wstring> arguments;
    bool accepted;
    Action action;
  };
  const Row rows[] = {
      {{kDisk, L"ROOT\\X\\0", L"Change", L"1"}, true, Action::kEnable},
      {{L"4d36e967-e325-11ce-bfc1-08002be10318", L"ROOT\\X\\0", L"change", L"2"}, true, Action::kDisable},
      {{kDisk, L"X", L"Uninstall"}, true, Action::kUninstall},
      {{kDisk, L"X", L"UPDATE"}, true, Action::kUpdate},
      {{kDisk, L"X", L"Change", L"3"}, false, {}},
      {{kDisk, L"X", L"Change"}, false, {}},
      {{kDisk, L"X", L"Update", L"1"}, false, {}},
      {{kDisk, L"", L"Update"}, false, {}},
      {{kDisk, L"X"}, false, {}},
      {{L"{4D36E967-E325-11CE-BFC1-08002BE1031}", L"X", L"Update"}, false, {}},
      {{L"{4D36E967-E325-11CE-BFC1-08002BE1031G}", L"X", L"Update"}, false, {}},
      {{L"{4D36E967+E325-11CE-BFC1-08002BE10318}", L"X", L"Update"}, false, {}},
      {{kDisk, L"X", L"Uninstall", L"extra", L"more"}, false, {}},
  };
  for (const Row& row : rows) {
    const auto request = devexe::ParseArguments(row.arguments);
    const std::string name = hk::ToUtf8(row.arguments[0]) + " " + std::to_string(row.arguments.size());
    ASSERT_EQ(request.has_value(), row.accepted) << name;
    if (request) EXPECT_EQ(request->action, row.action) << name;
  }
  const auto guid = devexe::ParseGuid(kDisk);
  ASSERT_TRUE(guid);
  const GUID disk{0x4d36e967, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  EXPECT_TRUE(IsEqualGUID(*guid, disk));
}

struct Run {
  DWORD exitCode = 0xFFFFFFFF;
  std::string errors;
};

// The program with the arguments; its stderr goes to a file read back after.
Run RunProgram(const std::filesystem::path& program, const std::wstring& arguments) {
  const hk::test::ScratchDir dir;
  const std::filesystem::path errors = dir.path() / L"stderr.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Run run;
  {
    hk::unique_hfile file(::CreateFileW(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = file.get();
    std::wstring line = L"\"" + program.wstring() + L"\" " + arguments;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info)) {
      ADD_FAILURE() << "cannot start " << program.string() << ": " << ::GetLastError();
      return run;
    }
    const hk::unique_handle process(info.hProcess), thread(info.hThread);
    EXPECT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    ::GetExitCodeProcess(process.get(), &run.exitCode);
  }
  std::ifstream in(errors, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  run.errors = s.str();
  return run;
}

TEST(DevExeProgram, BadArgumentsGiveTheUsageAnd87) {
  const auto program = hk::test::BuildBinFolder() / L"DevExe32.exe";
  for (const wchar_t* arguments : {L"", L"{4D36E967-E325-11CE-BFC1-08002BE10318} ROOT\\X\\0 Change 5"}) {
    const Run run = RunProgram(program, arguments);
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << hk::ToUtf8(arguments);
    EXPECT_NE(run.errors.find("Usage: DevExe <class GUID> <device instance id>"), std::string::npos) << run.errors;
  }
}

// The program of this machine's architecture, as the device tool would pick it.
TEST(DevExeProgram, DeviceThatDoesNotExistIsNotFound) {
  const auto program = hk::test::BuildBinFolder() / (hk::test::RunsUnderWow64() ? L"DevExe64.exe" : L"DevExe32.exe");
  const Run run = RunProgram(program, std::wstring(kDisk) + L" ROOT\\HK_NO_SUCH_DEVICE\\0000 Change 2");
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_NO_SUCH_DEVINST)) << run.errors;
  EXPECT_NE(run.errors.find("disable ROOT\\HK_NO_SUCH_DEVICE\\0000 failed while finding the device"), std::string::npos)
      << run.errors;
}

}  // namespace
