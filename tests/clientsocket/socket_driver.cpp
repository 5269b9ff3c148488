// Several threads send through one ClientSocket.dll connection to an echoing
// server while the echoes arrive; prints what it saw as one JSON line.
//   socket_driver.exe HOST PORT SECURE THREADS MESSAGES SIZE
// Message i of thread t is "G<size>:<salt>:" and size letters that depend on
// the salt (t + 1) * 100000 + i, its size SIZE + (i % 7) * 1000.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ClientSocket.h"

using SocketUtils::SmartPtr;
using SocketUtils::ClientSocket::AsyncSocket;

namespace {

std::atomic<int> g_echoes{0};
std::atomic<int> g_valid{0};

std::string Generate(size_t size, unsigned long salt) {
  std::string out = "G" + std::to_string(size) + ":" + std::to_string(salt) + ":";
  for (size_t i = 0; i < size; ++i) out += static_cast<char>('a' + (i * 7 + salt * 13) % 26);
  return out;
}

void OnText(char* text, int length, unsigned long) {
  unsigned long size = 0, salt = 0;
  const std::string data(text, length);
  if (std::sscanf(data.c_str(), "G%lu:%lu:", &size, &salt) == 2 && data == Generate(size, salt)) ++g_valid;
  ++g_echoes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: socket_driver HOST PORT SECURE THREADS MESSAGES SIZE\n");
    return 2;
  }
  const int count = std::atoi(argv[4]), messages = std::atoi(argv[5]);
  const size_t size = std::strtoul(argv[6], nullptr, 10);
  SmartPtr<AsyncSocket> socket = AsyncSocket::CreateAsyncSocket(
      1, argv[1], std::atoi(argv[2]), std::string(argv[3]) == "1", 0, "tools/HK_NATIVE", "log\\WsAsyncSocket.log", {});
  if (socket) socket->registerTextMessageHandler(&OnText);
  if (!socket || !socket->Connect(true)) {
    std::printf("{\"connected\": false}\n");
    return 1;
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < messages; ++i) {
        const std::string m = Generate(size + (i % 7) * 1000, (t + 1) * 100000 + i);
        if (socket->SendTextFrame(m.data(), static_cast<int>(m.size()), false) != static_cast<int>(m.size()))
          ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (g_echoes < count * messages && std::chrono::steady_clock::now() < deadline) ::Sleep(10);
  std::printf("{\"connected\": true, \"failures\": %d, \"echoes\": %d, \"valid\": %d}\n", failures.load(),
              g_echoes.load(), g_valid.load());
  return 0;
}
