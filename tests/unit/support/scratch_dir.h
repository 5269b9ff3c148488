// A fresh folder under the temp folder, removed with everything in it when
// the test ends; and the folder of the test program.
#pragma once
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

namespace hk::test {

inline std::filesystem::path ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
  return std::filesystem::path(path).parent_path();
}

class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("hk-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace hk::test
