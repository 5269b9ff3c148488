// Conversions between UTF-8, the ANSI code page and UTF-16 as std strings.
// Invalid input never throws: invalid UTF-8 becomes U+FFFD, unpaired
// surrogates become U+FFFD in UTF-8.
#pragma once
#include <string>
#include <string_view>

namespace hk {

std::wstring FromUtf8(std::string_view text);
std::string ToUtf8(std::wstring_view text);
// Through the thread's ANSI code page.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

}  // namespace hk
