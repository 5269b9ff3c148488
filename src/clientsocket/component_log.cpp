#include "component_log.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <mutex>

#include "core/text.h"
#include "infra/win_resource.h"

namespace clientsocket {

namespace {

constexpr ULONGLONG kRotateAtBytes = 4ull << 20;

// Timed: a thread ended by process exit in the middle of a line must not
// keep the others from logging, or from exiting.
std::timed_mutex& FileLock() {
  static std::timed_mutex lock;
  return lock;
}

void CreateFolders(const std::wstring& file) {
  const size_t slash = file.find_last_of(L"\\/");
  if (slash == std::wstring::npos || slash == 0) return;
  const std::wstring folder = file.substr(0, slash);
  if (::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  CreateFolders(folder);
  ::CreateDirectoryW(folder.c_str(), nullptr);
}

std::wstring RotatedName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  const size_t dot = path.find_last_of(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return path + L"1";
  return path.substr(0, dot) + L"1" + path.substr(dot);
}

}  // namespace

std::shared_ptr<ComponentLog> ComponentLog::Open(const std::string& path) {
  std::wstring full;
  if (!path.empty()) {
    const std::wstring wide = hk::Widen(path);
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n > 0) {
      full.resize(n);
      const DWORD written = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
      full.resize(written < n ? written : 0);
    }
    if (full.empty()) full = wide;
    CreateFolders(full);
  }
  return std::shared_ptr<ComponentLog>(new ComponentLog(std::move(full)));
}

void ComponentLog::WriteLine(std::string_view text) noexcept {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, ::GetCurrentThreadId());
  std::string line;
  try {
    line.reserve(text.size() + 40);
    line += stamp;
    // One entry, one line: whatever a server put into a reason stays on it.
    for (const char c : text) line += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    line += "\r\n";
  } catch (...) {
    return;
  }

  std::unique_lock lock(FileLock(), std::defer_lock);
  if (!lock.try_lock_for(std::chrono::seconds(2))) return;
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (::GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &info) &&
      ((static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) > kRotateAtBytes) {
    ::MoveFileExW(path_.c_str(), RotatedName(path_).c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  hk::unique_hfile file(::CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    // The folder may have been removed since the socket was made.
    CreateFolders(path_);
    file.reset(::CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
  }
  DWORD written = 0;
  ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace clientsocket
