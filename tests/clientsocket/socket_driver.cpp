// Drives ClientSocket.dll for the end-to-end tests: one command per line on
// stdin (blank-separated, percent-encoded, "~" the empty text), and what it
// did and what the socket called back as one JSON object per line on stdout.
//
//   create HOST PORT SECURE PATH LOGPATH [CONTEXT]   proxy HOST PORT USER PASSWORD
//   connect | close FLAG | release | release_on_text | is_connected
//   text PAYLOAD [FLAG] | textgen SIZE SALT | bingen SIZE SALT
//   threads COUNT MESSAGES SIZE          (COUNT threads send at once)
//   bench MESSAGES SIZE                  (round trips through an echo server)
//   http HOST PORT SECURE PATH BODY TYPE [PROXYHOST PROXYPORT USER PASSWORD]
//   quit
//
// Generated messages ("G<size>:<salt>:" and size letters that depend on the
// salt) can be checked by either side.
#include <json/json.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <mutex>
#include <semaphore>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ClientSocket.h"

using SocketUtils::SmartPtr;
using SocketUtils::ClientSocket::AsyncSocket;

namespace {

std::mutex g_printLock;
SmartPtr<AsyncSocket> g_socket;
std::atomic<AsyncSocket*> g_releaseOnText{nullptr};
// While a benchmark runs, texts are only counted.
std::atomic<bool> g_quiet{false};
std::counting_semaphore<> g_textArrived{0};

std::string Generate(size_t size, unsigned long salt) {
  std::string out = "G" + std::to_string(size) + ":" + std::to_string(salt) + ":";
  for (size_t i = 0; i < size; ++i) out += static_cast<char>('a' + (i * 7 + salt * 13) % 26);
  return out;
}

// true/false when the data is a generated message, null otherwise.
Json::Value CheckGenerated(const std::string& data) {
  unsigned long size = 0, salt = 0;
  if (data.empty() || data[0] != 'G') return {};
  return std::sscanf(data.c_str(), "G%lu:%lu:", &size, &salt) == 2 && data == Generate(size, salt);
}

Json::UInt Tid() { return GetCurrentThreadId(); }

// One event line.
void Print(const char* ev, std::initializer_list<std::pair<const char*, Json::Value>> fields = {}) {
  Json::Value event;
  event["ev"] = ev;
  for (const auto& [key, value] : fields) event[key] = value;
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  const std::string line = Json::writeString(builder, event);
  std::lock_guard lock(g_printLock);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void OnConnect(unsigned long context) { Print("on_connect", {{"ctx", Json::UInt(context)}, {"tid", Tid()}}); }

void OnText(char* text, int length, unsigned long) {
  if (g_quiet) {
    g_textArrived.release();
    return;
  }
  const size_t cut = std::strlen(text);  // what a C-string reader sees
  Print("on_text", {{"len", length},
                    {"strlen", Json::UInt(cut)},
                    {"terminated", text[length] == '\0'},
                    {"valid", CheckGenerated(std::string(text, length))},
                    {"head", Json::Value(text, text + (cut < 60 ? cut : 60))},
                    {"tid", Tid()}});
  if (AsyncSocket* socket = g_releaseOnText.exchange(nullptr)) {
    socket->Release();
    Print("released_in_callback");
  }
}

void OnBinary(unsigned char* data, int length, unsigned long) {
  const std::string whole(reinterpret_cast<char*>(data), length);
  Print("on_binary", {{"len", length}, {"valid", CheckGenerated(whole)}, {"tid", Tid()}});
}

void OnSendComplete(void*, int length, unsigned long) { Print("on_send_complete", {{"len", length}}); }

void OnClose(int code, char* reason, unsigned long) { Print("on_close", {{"code", code}, {"reason", reason}}); }

std::string Decode(const std::string& token) {
  if (token == "~") return {};
  std::string out;
  for (size_t i = 0; i < token.size(); ++i) {
    if (token[i] != '%') {
      out += token[i];
      continue;
    }
    out += static_cast<char>(std::stoi(token.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return out;
}

void Threads(int count, int messages, size_t size) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  SmartPtr<AsyncSocket> socket = g_socket;
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
  Print("threads_done", {{"failures", failures.load()}, {"sent", count * messages}});
}

void Bench(int messages, size_t size) {
  const std::string message = Generate(size, 7);
  g_quiet = true;
  const auto start = std::chrono::steady_clock::now();
  int done = 0;
  while (done < messages && g_socket->SendTextFrame(message.data(), static_cast<int>(message.size()), false) >= 0 &&
         g_textArrived.try_acquire_for(std::chrono::seconds(10)))
    ++done;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  g_quiet = false;
  Print("bench", {{"messages", done}, {"bytes", Json::UInt(message.size())}, {"ms", Json::Int64(ms.count())}});
}

void Http(const std::vector<std::string>& a) {
  std::shared_ptr<HttpHandler::HttpClient> client;
  ClientConnectionFactory::QueryInterface(ClientConnectionFactory::IID_HttpClient, &client);
  const bool viaProxy = a.size() >= 11;
  client->SetUseProxy(viaProxy);
  client->SetConnection(a[1], std::stoi(a[2]), a[3] == "1", viaProxy ? a[7] : "", viaProxy ? std::stoi(a[8]) : 0,
                        viaProxy ? a[9] : "", viaProxy ? a[10] : "", -1, -1);
  client->BeginRequest();
  const bool ok = client->SendRequest(a[4], a[5], true, a[6]);
  std::string response, error;
  client->GetResponse(response);
  client->GetLastErrorText(error);
  Print("http", {{"ok", ok}, {"code", client->GetLastErrorCode()}, {"error", error}, {"response", response}});
}

}  // namespace

int main() {
  Print("ready", {{"tid", Tid()}});
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::vector<std::string> a;
    for (std::string token; in >> token;) a.push_back(Decode(token));
    const std::string cmd = a.empty() ? "" : a[0];
    if (cmd == "quit") break;
    // The socket held, or the one whose last reference the text callback is about to drop.
    AsyncSocket* socket = g_socket ? g_socket.get() : g_releaseOnText.load();
    try {
      if (cmd == "create" && a.size() >= 6) {
        g_socket = AsyncSocket::CreateAsyncSocket(1, a[1], std::stoi(a[2]), a[3] == "1",
                                                  a.size() > 6 ? std::stoul(a[6]) : 0, a[4], a[5], {});
        if (g_socket) {
          g_socket->registerConnectHandler(&OnConnect);
          g_socket->registerTextMessageHandler(&OnText);
          g_socket->registerBinaryMessageHandler(&OnBinary);
          g_socket->registerSendCompleteHandler(&OnSendComplete);
          g_socket->registerCloseHandler(&OnClose);
        }
        Print("created", {{"ok", static_cast<bool>(g_socket)}});
      } else if (cmd == "http" && a.size() >= 7) {
        Http(a);
      } else if (!socket) {
        Print("error", {{"text", "no socket"}});
      } else if (cmd == "proxy" && a.size() >= 5) {
        socket->SetProxyDetails(a[1], std::stoi(a[2]), a[3], a[4]);
        Print("proxy_set");
      } else if (cmd == "connect") {
        const bool ok = socket->Connect(true);
        Print("connect_result", {{"ok", ok}, {"connected", socket->IsConnected()}});
      } else if (cmd == "is_connected") {
        Print("is_connected", {{"value", socket->IsConnected()}});
      } else if (cmd == "text" && a.size() >= 2) {
        const int size = static_cast<int>(a[1].size());
        Print("sent", {{"result", socket->SendTextFrame(a[1].data(), size, a.size() > 2 && a[2] == "1")}});
      } else if ((cmd == "textgen" || cmd == "bingen") && a.size() >= 3) {
        const std::string m = Generate(std::stoul(a[1]), std::stoul(a[2]));
        const int size = static_cast<int>(m.size());
        Print("sent", {{"result", cmd == "textgen" ? socket->SendTextFrame(m.data(), size, false)
                                                   : socket->SendBinaryFrame(m.data(), size, false)}});
      } else if (cmd == "threads" && a.size() >= 4 && g_socket) {
        Threads(std::stoi(a[1]), std::stoi(a[2]), std::stoul(a[3]));
      } else if (cmd == "bench" && a.size() >= 3 && g_socket) {
        Bench(std::stoi(a[1]), std::stoul(a[2]));
      } else if (cmd == "close" && a.size() >= 2) {
        socket->Close(a[1] == "1");
        Print("close_returned");
      } else if (cmd == "release") {
        g_socket.reset();
        Print("released");
      } else if (cmd == "release_on_text" && g_socket) {
        socket->AddRef();
        g_socket.reset();
        g_releaseOnText = socket;
        Print("armed");
      } else {
        Print("error", {{"text", "bad command: " + line}});
      }
    } catch (const std::exception& e) {
      Print("error", {{"text", std::string("exception: ") + e.what()}});
    }
  }
  g_socket.reset();
  Print("bye");
  return 0;
}
