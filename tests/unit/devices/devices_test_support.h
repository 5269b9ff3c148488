// Shared by the device tests: where the programs are, the stand-in's record
// and whether this process runs under WOW64 (asked independently of the code
// under test).
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
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
// The real device action programs of the build.
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
    std::wstring directory;
    std::wstring commandLine;
  };

  StandInRecord() : path_(dir_.path() / L"record.txt") {
    ::SetEnvironmentVariableW(L"HK_STANDIN_RECORD", path_.c_str());
  }
  ~StandInRecord() { ::SetEnvironmentVariableW(L"HK_STANDIN_RECORD", nullptr); }

  std::vector<std::wstring> Texts() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::vector<std::wstring> lines;
    std::string line;
    while (std::getline(s, line)) lines.push_back(FromUtf8(line));
    return lines;
  }
  // Waits up to 30 s for at least count lines.
  std::vector<std::wstring> WaitFor(size_t count) const {
    for (int i = 0; i < 300; ++i) {
      const auto lines = Texts();
      if (lines.size() >= count) return lines;
      ::Sleep(100);
    }
    ADD_FAILURE() << "the stand-in recorded fewer than " << count << " lines";
    return Texts();
  }
  static Line Parse(const std::wstring& text) {
    Line line;
    const size_t first = text.find(L'\t');
    const size_t second = first == std::wstring::npos ? first : text.find(L'\t', first + 1);
    if (second == std::wstring::npos) return line;
    line.pid = std::stoul(text.substr(0, first));
    line.directory = text.substr(first + 1, second - first - 1);
    line.commandLine = text.substr(second + 1);
    return line;
  }

 private:
  ScratchDir dir_;
  std::filesystem::path path_;
};

}  // namespace hk::test
