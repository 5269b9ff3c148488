// Drives ClientSocket.dll for the end-to-end tests: reads one command per
// line on stdin and prints what it did and what the socket called back, one
// JSON object per line on stdout. Arguments are separated by blanks and
// percent-decoded ("%20" a blank, "%00" a NUL); "~" is the empty text.
//
//   create HOST PORT SECURE PATH LOGPATH [CONTEXT]   proxy HOST PORT USER PASSWORD
//   connect | close FLAG | release | release_on_text | is_connected
//   text PAYLOAD [FLAG] | textgen SIZE SALT | bingen SIZE SALT
//   threads COUNT MESSAGES SIZE          (COUNT threads send at once)
//   bench MESSAGES SIZE                  (round trips through an echo server)
//   http HOST PORT SECURE PATH BODY TYPE [PROXYHOST PROXYPORT USER PASSWORD]
//   mark LABEL | quit
//
// Generated messages are "G<size>:<salt>:" followed by size letters that
// depend on the salt, so either side can check one arrived intact.
#include <windows.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <mutex>
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
// Texts received; while a benchmark runs they are only counted.
std::atomic<bool> g_quiet{false};
std::mutex g_textsLock;
std::condition_variable g_textArrived;
uint64_t g_texts = 0;

uint32_t Crc32(const void* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

std::string Generate(size_t size, unsigned long salt) {
  std::string out = "G" + std::to_string(size) + ":" + std::to_string(salt) + ":";
  for (size_t i = 0; i < size; ++i) out += static_cast<char>('a' + (i * 7 + salt * 13) % 26);
  return out;
}

// "true"/"false" when the text is a generated message, "null" otherwise.
const char* CheckGenerated(const std::string& text) {
  if (text.empty() || text[0] != 'G') return "null";
  unsigned long size = 0, salt = 0;
  if (std::sscanf(text.c_str(), "G%lu:%lu:", &size, &salt) != 2) return "false";
  return text == Generate(size, salt) ? "true" : "false";
}

std::string Json(const char* data, size_t size) {
  std::string out = "\"";
  for (size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
    out += c == '"' || c == '\\'   ? std::string{'\\', static_cast<char>(c)}
           : c < 0x20 || c >= 0x7F ? escaped
                                   : std::string(1, static_cast<char>(c));
  }
  return out + "\"";
}
std::string Json(const std::string& s) { return Json(s.data(), s.size()); }
std::string Bool(bool b) { return b ? "true" : "false"; }

// One event line; the values are JSON already.
void Print(const char* ev, std::initializer_list<std::pair<const char*, std::string>> fields = {}) {
  std::string line = std::string("{\"ev\":\"") + ev + "\"";
  for (const auto& [key, value] : fields) line += std::string(",\"") + key + "\":" + value;
  std::lock_guard lock(g_printLock);
  std::printf("%s}\n", line.c_str());
  std::fflush(stdout);
}

std::string Tid() { return std::to_string(GetCurrentThreadId()); }

void OnConnect(unsigned long context) { Print("on_connect", {{"ctx", std::to_string(context)}, {"tid", Tid()}}); }

void OnText(char* text, int length, unsigned long) {
  {
    std::lock_guard lock(g_textsLock);
    ++g_texts;
  }
  g_textArrived.notify_all();
  if (g_quiet) return;
  const std::string whole(text, length);
  const size_t cut = std::strlen(text);  // what a C-string reader sees
  Print("on_text", {{"len", std::to_string(length)},
                    {"strlen", std::to_string(cut)},
                    {"terminated", Bool(text[length] == '\0')},
                    {"crc", std::to_string(Crc32(text, length))},
                    {"valid", CheckGenerated(whole)},
                    {"head", Json(text, cut < 60 ? cut : 60)},
                    {"tid", Tid()}});
  if (AsyncSocket* socket = g_releaseOnText.exchange(nullptr)) {
    socket->Release();
    Print("released_in_callback", {{"tid", Tid()}});
  }
}

void OnBinary(unsigned char* data, int length, unsigned long) {
  Print("on_binary", {{"len", std::to_string(length)}, {"crc", std::to_string(Crc32(data, length))}, {"tid", Tid()}});
}

void OnSendComplete(void*, int length, unsigned long) { Print("on_send_complete", {{"len", std::to_string(length)}}); }

void OnClose(int code, char* reason, unsigned long) {
  Print("on_close", {{"code", std::to_string(code)}, {"reason", Json(reason)}, {"tid", Tid()}});
}

std::string Decode(const std::string& token) {
  if (token == "~") return {};
  std::string out;
  for (size_t i = 0; i < token.size(); ++i) {
    if (token[i] == '%' && i + 2 < token.size() && std::isxdigit(static_cast<unsigned char>(token[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(token[i + 2]))) {
      out += static_cast<char>(std::stoi(token.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += token[i];
    }
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
  Print("threads_done", {{"failures", std::to_string(failures)}, {"sent", std::to_string(count * messages)}});
}

void Bench(int messages, size_t size) {
  const std::string message = Generate(size, 7);
  g_quiet = true;
  const auto start = std::chrono::steady_clock::now();
  int done = 0;
  for (std::unique_lock lock(g_textsLock); done < messages; ++done) {
    const uint64_t before = g_texts;
    lock.unlock();
    if (g_socket->SendTextFrame(message.data(), static_cast<int>(message.size()), false) < 0) break;
    lock.lock();
    if (!g_textArrived.wait_for(lock, std::chrono::seconds(10), [&] { return g_texts > before; })) break;
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  g_quiet = false;
  Print("bench", {{"messages", std::to_string(done)},
                  {"bytes", std::to_string(message.size())},
                  {"ms", std::to_string(ms.count())}});
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
  Print("http", {{"ok", Bool(ok)},
                 {"code", std::to_string(client->GetLastErrorCode())},
                 {"error", Json(error)},
                 {"response", Json(response)}});
}

}  // namespace

int main() {
  Print("ready", {{"tid", Tid()}});
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream in(line);
    std::vector<std::string> a;
    for (std::string token; in >> token;) a.push_back(Decode(token));
    if (a.empty()) continue;
    const std::string& cmd = a[0];
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
        Print("created", {{"ok", Bool(static_cast<bool>(g_socket))}});
      } else if (cmd == "http" && a.size() >= 7) {
        Http(a);
      } else if (cmd == "mark" && a.size() >= 2) {
        Print("mark", {{"label", Json(a[1])}});
      } else if (cmd == "quit") {
        break;
      } else if (!socket) {
        Print("error", {{"text", Json("no socket")}});
      } else if (cmd == "proxy" && a.size() >= 5) {
        socket->SetProxyDetails(a[1], std::stoi(a[2]), a[3], a[4]);
        Print("proxy_set");
      } else if (cmd == "connect") {
        const bool ok = socket->Connect(true);
        Print("connect_result", {{"ok", Bool(ok)}, {"connected", Bool(socket->IsConnected())}});
      } else if (cmd == "is_connected") {
        Print("is_connected", {{"value", Bool(socket->IsConnected())}});
      } else if (cmd == "text" && a.size() >= 2) {
        const int result =
            socket->SendTextFrame(a[1].data(), static_cast<int>(a[1].size()), a.size() > 2 && a[2] == "1");
        Print("sent", {{"kind", "\"text\""}, {"result", std::to_string(result)}});
      } else if ((cmd == "textgen" || cmd == "bingen") && a.size() >= 3) {
        const std::string m = Generate(std::stoul(a[1]), std::stoul(a[2]));
        const int size = static_cast<int>(m.size());
        const int result = cmd == "textgen" ? socket->SendTextFrame(m.data(), size, false)
                                            : socket->SendBinaryFrame(m.data(), size, false);
        Print("sent", {{"kind", cmd == "textgen" ? "\"text\"" : "\"binary\""}, {"result", std::to_string(result)}});
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
        // The text callback then drops the last reference from the receive thread.
        socket->AddRef();
        g_socket.reset();
        g_releaseOnText = socket;
        Print("armed");
      } else {
        Print("error", {{"text", Json("bad command: " + line)}});
      }
    } catch (const std::exception& e) {
      Print("error", {{"text", Json(std::string("exception: ") + e.what())}});
    }
  }
  g_socket.reset();
  Print("bye");
  return 0;
}
