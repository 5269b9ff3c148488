// Times a process listing with idle children running: the sampling pass
// (mostly its fixed pause) apart from the gathering, and the gathering per
// process. Prints figures; asserts nothing.
//   process_bench [CHILDREN] [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/messages.h"
#include "processes/child_process.h"
#include "tools/processes/process_listing.h"
#include "tools/processes/process.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int children = argc > 1 ? std::atoi(argv[1]) : 50;
  const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 5);
  std::vector<std::unique_ptr<hk::test::ChildProcess>> idle;
  for (int i = 0; i < children; ++i) {
    auto child = hk::test::ChildProcess::Start(hk::test::SleeperPath(), L"idle child " + std::to_wstring(i));
    if (!child) {
      std::fprintf(stderr, "could not start child %d\n", i);
      return 1;
    }
    idle.push_back(std::move(child));
  }
  // Let the children (and the console hosts Wine gives them) finish starting.
  ::Sleep(5000);
  std::printf("idle children: %d\n", children);

  std::vector<double> perProcess;
  unsigned lastCount = 0;
  for (int round = 1; round <= rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    hk::processes::Process::CalculateProcessCPUUsage();
    const double sampling = seconds_since(start);

    start = std::chrono::steady_clock::now();
    Json::Value list(Json::arrayValue);
    hk::processes::GatherProcessList(list);
    const double gathering = seconds_since(start);

    start = std::chrono::steady_clock::now();
    char* response = nullptr;
    POST_JSON_success("1", "1301", list, 1, &response, "bench");
    const double envelope = seconds_since(start);
    hk::FreeText(response);

    const unsigned processes = list.size();
    lastCount = processes;
    const double msPerProcess = processes ? gathering * 1000 / processes : 0.0;
    perProcess.push_back(msPerProcess);
    std::printf(
        "round %d: %u processes | sampling pass %.3f s | gathering %.1f ms (%.3f ms per process) | envelope %.1f ms "
        "| listing %.3f s\n",
        round, processes, sampling, gathering * 1000, msPerProcess, envelope * 1000, sampling + gathering + envelope);
  }
  std::sort(perProcess.begin(), perProcess.end());
  std::printf("gathering per process: median %.3f ms, best %.3f ms, worst %.3f ms (first listing included)\n",
              perProcess[perProcess.size() / 2], perProcess.front(), perProcess.back());
  std::printf("{\"ms_per_process_median\": %.4f, \"processes\": %u}\n", perProcess[perProcess.size() / 2],
              lastCount);
  return 0;
}
