// The log's own cost per entry, to set beside the floor of log_floor: the
// same kind of entry through WriteLog, in a log of its own.
//   log_bench FOLDER ENTRIES  ->  {"us_per_entry": ...}
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "infra/log.h"

int main(int argc, char** argv) {
  if (argc < 3 || !::SetCurrentDirectoryA(argv[1])) {
    std::fprintf(stderr, "usage: log_bench FOLDER ENTRIES\n");
    return 87;
  }
  const int entries = std::max(1, std::atoi(argv[2]));
  InitLog(L"ToolsSys", L"o.1", L"ToolsSys.log", false, L"", true);
  SetLogLevel(2);
  WriteLog(L"first");
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < entries; ++i) WriteLog(L"Data recived from Server || AsyncWsHandler::OnTextMsg ||");
  const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  std::printf("{\"us_per_entry\": %.2f}\n", us / entries);
  return 0;
}
