// Shared by the device tests: where the programs are, the stand-in's record
// and whether this process runs under WOW64 (asked without the code under test).
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/text.h"
#include "support/scratch_dir.h"

namespace hk::test {

inline std::filesystem::path TestFolder() {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
  return std::filesystem::path(path).parent_path();
}
// The stand-ins, where the folder rule looks from this test program.
inline std::filesystem::path StandInFolder() { return TestFolder().parent_path() / L"bin"; }
// The build's real device action programs.
inline std::filesystem::path BuildBinFolder() { return TestFolder().parent_path().parent_path() / L"bin"; }

inline bool RunsUnderWow64() {
  SYSTEM_INFO native{};
  ::GetNativeSystemInfo(&native);
  return sizeof(void*) == 4 && native.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
}

// The stand-in's record file, named in HK_STANDIN_RECORD while this lives.
class StandInRecord {
 public:
  struct Line {
    DWORD pid = 0;
    std::wstring directory, commandLine;
  };
  StandInRecord() { ::SetEnvironmentVariableW(L"HK_STANDIN_RECORD", path_.c_str()); }
  ~StandInRecord() { ::SetEnvironmentVariableW(L"HK_STANDIN_RECORD", nullptr); }

  // The lines once there are at least count (waits up to 30 s).
  std::vector<std::wstring> WaitFor(size_t count) const {
    std::vector<std::wstring> lines;
    for (int i = 0; i < 300 && lines.size() < count; ++i, ::Sleep(lines.size() < count ? 100 : 0)) {
      lines.clear();
      std::ifstream in(path_, std::ios::binary);
      for (std::string line; std::getline(in, line);) lines.push_back(FromUtf8(line));
    }
    EXPECT_GE(lines.size(), count) << "the stand-in did not record";
    return lines;
  }
  // The count-th line (from 1) split into its fields.
  Line Get(size_t count) const {
    const auto lines = WaitFor(count);
    if (lines.size() < count) return {};
    const std::wstring& text = lines[count - 1];
    const size_t first = text.find(L'\t'), second = text.find(L'\t', first + 1);
    if (second == std::wstring::npos) return {};
    return {static_cast<DWORD>(std::stoul(text.substr(0, first))), text.substr(first + 1, second - first - 1),
            text.substr(second + 1)};
  }

 private:
  ScratchDir dir_;
  std::filesystem::path path_ = dir_.path() / L"record.txt";
};

}  // namespace hk::test
