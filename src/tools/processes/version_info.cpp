#include <windows.h>

#include <cwchar>
#include <map>
#include <mutex>

#include "tools/processes/process_collect.h"
#include "infra/sized_buffer.h"

namespace hk::processes {

std::optional<std::wstring> ReadFileDescription(const std::wstring& path) {
  const auto data = FillGrowing(0, [&](BYTE* buffer, DWORD size, DWORD* needed) {
    if (size == 0) {
      DWORD ignored = 0;
      *needed = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
      return false;
    }
    return ::GetFileVersionInfoW(path.c_str(), 0, size, buffer) != FALSE;
  });
  if (!data) return std::nullopt;

  struct Translation {
    WORD language;
    WORD codePage;
  };
  void* translations = nullptr;
  UINT bytes = 0;
  if (!::VerQueryValueW(data->data(), L"\\VarFileInfo\\Translation", &translations, &bytes) || !translations) {
    return std::nullopt;
  }
  const auto* table = static_cast<const Translation*>(translations);
  for (UINT i = 0; i < bytes / sizeof(Translation); ++i) {
    wchar_t key[50];
    const int written =
        std::swprintf(key, 50, L"\\StringFileInfo\\%04x%04x\\FileDescription", table[i].language, table[i].codePage);
    if (written < 0) break;
    void* text = nullptr;
    UINT chars = 0;
    if (::VerQueryValueW(data->data(), key, &text, &chars) && text) {
      return std::wstring(static_cast<const wchar_t*>(text), ::wcsnlen(static_cast<const wchar_t*>(text), chars));
    }
  }
  return std::nullopt;
}

namespace {

struct CachedDescription {
  ULONGLONG size;
  FILETIME written;
  std::optional<std::wstring> description;
};

// Bounded only by the number of distinct images a machine runs; emptied if
// it ever grows past that.
constexpr size_t kMaxCachedFiles = 4096;
std::mutex g_descriptionMutex;
std::map<std::wstring, CachedDescription> g_descriptions;

}  // namespace

std::optional<std::wstring> FileDescriptionOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) return ReadFileDescription(path);
  const ULONGLONG size = (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  {
    std::lock_guard<std::mutex> lock(g_descriptionMutex);
    const auto known = g_descriptions.find(path);
    if (known != g_descriptions.end() && known->second.size == size &&
        ::CompareFileTime(&known->second.written, &attributes.ftLastWriteTime) == 0) {
      return known->second.description;
    }
  }
  std::optional<std::wstring> description = ReadFileDescription(path);
  std::lock_guard<std::mutex> lock(g_descriptionMutex);
  if (g_descriptions.size() >= kMaxCachedFiles) g_descriptions.clear();
  g_descriptions[path] = CachedDescription{size, attributes.ftLastWriteTime, description};
  return description;
}

}  // namespace hk::processes
