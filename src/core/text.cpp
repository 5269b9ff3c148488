#include "core/text.h"

#include <windows.h>

namespace hk {
namespace {

std::wstring to_wide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string from_wide(UINT codePage, std::wstring_view text) {
  if (text.empty()) return {};
  const int n =
      ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring FromUtf8(std::string_view text) { return to_wide(CP_UTF8, text); }
std::string ToUtf8(std::wstring_view text) { return from_wide(CP_UTF8, text); }
std::wstring Widen(std::string_view text) { return to_wide(CP_ACP, text); }
std::string Narrow(std::wstring_view text) { return from_wide(CP_ACP, text); }

}  // namespace hk
