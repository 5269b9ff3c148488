// The floor of one log entry under this system: open the file for appending
// (create it when it is not there), one write of a whole entry, close. This is
// what the log must do per entry, with nothing of its own around it.
//   log_floor FILE ENTRIES  ->  {"us_per_entry": ...}
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: log_floor FILE ENTRIES\n");
    return 87;
  }
  const char* path = argv[1];
  const int entries = std::max(1, std::atoi(argv[2]));
  const std::string entry = "\r\n4242 12:34:56:789  Data recived from Server || AsyncWsHandler::OnTextMsg ||";
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < entries; ++i) {
    HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    ::WriteFile(file, entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
    ::CloseHandle(file);
  }
  const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  std::printf("{\"us_per_entry\": %.2f}\n", us / entries);
  return 0;
}
