#include "devexe_args.h"

#include <cwctype>

namespace devexe {
namespace {

bool SameWord(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// count hex digits at text[pos], as one number.
std::optional<unsigned long long> Hex(std::wstring_view text, size_t pos, size_t count) {
  unsigned long long value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

}  // namespace

const char* const kUsage =
    "Usage: DevExe <class GUID> <device instance id> Change 1|2 | Uninstall | Update\n"
    "  Change 1   enable the device\n"
    "  Change 2   disable the device\n"
    "  Uninstall  remove the device\n"
    "  Update     re-detect the device and install its best driver\n";

std::optional<GUID> ParseGuid(std::wstring_view text) {
  if (text.size() == 38 && text.front() == L'{' && text.back() == L'}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  for (size_t dash : {8u, 13u, 18u, 23u}) {
    if (text[dash] != L'-') return std::nullopt;
  }
  const auto data1 = Hex(text, 0, 8);
  const auto data2 = Hex(text, 9, 4);
  const auto data3 = Hex(text, 14, 4);
  if (!data1 || !data2 || !data3) return std::nullopt;
  GUID guid{};
  guid.Data1 = static_cast<unsigned long>(*data1);
  guid.Data2 = static_cast<unsigned short>(*data2);
  guid.Data3 = static_cast<unsigned short>(*data3);
  // Data4: two bytes, then six after the last dash.
  constexpr size_t kBytePos[] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (size_t i = 0; i < 8; ++i) {
    const auto byte = Hex(text, kBytePos[i], 2);
    if (!byte) return std::nullopt;
    guid.Data4[i] = static_cast<unsigned char>(*byte);
  }
  return guid;
}

std::optional<Request> ParseArguments(const std::vector<std::wstring>& arguments) {
  if (arguments.size() < 3 || arguments.size() > 4) return std::nullopt;
  const auto guid = ParseGuid(arguments[0]);
  if (!guid || arguments[1].empty()) return std::nullopt;
  Request request;
  request.classGuid = *guid;
  request.deviceId = arguments[1];
  const std::wstring& verb = arguments[2];
  if (arguments.size() == 4) {
    if (!SameWord(verb, L"Change")) return std::nullopt;
    if (arguments[3] == L"1") {
      request.action = Action::kEnable;
    } else if (arguments[3] == L"2") {
      request.action = Action::kDisable;
    } else {
      return std::nullopt;
    }
  } else if (SameWord(verb, L"Uninstall")) {
    request.action = Action::kUninstall;
  } else if (SameWord(verb, L"Update")) {
    request.action = Action::kUpdate;
  } else {
    return std::nullopt;
  }
  return request;
}

const wchar_t* ActionName(Action action) {
  switch (action) {
    case Action::kEnable:
      return L"enable";
    case Action::kDisable:
      return L"disable";
    case Action::kUninstall:
      return L"uninstall";
    case Action::kUpdate:
      return L"update";
  }
  return L"";
}

}  // namespace devexe
