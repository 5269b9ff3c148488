// Drives ClientSocket.dll for the end-to-end tests: reads one command per
// line on stdin and prints what it did and what the socket called back, one
// JSON object per line on stdout. Arguments are separated by blanks and
// percent-decoded ("%20" a blank, "%00" a NUL); "~" is the empty text.
//
//   create HOST PORT SECURE PATH LOGPATH [CONTEXT]   proxy HOST PORT USER PASSWORD
//   connect | close FLAG | release | release_on_text | is_connected
//   text PAYLOAD | textgen SIZE SALT | bingen SIZE SALT | control OPCODE PAYLOAD
//   threads COUNT MESSAGES SIZE          (COUNT threads send at once)
//   bench MESSAGES SIZE                  (round trips through an echo server)
//   http HOST PORT SECURE PATH BODY TYPE [PROXYHOST PROXYPORT USER PASSWORD]
//   qi | sleep MS | mark LABEL | quit
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
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ClientSocket.h"

using SocketUtils::SmartPtr;
using SocketUtils::ClientSocket::AsyncSocket;
using SocketUtils::ClientSocket::stProxyDetails;

namespace {

std::mutex g_printLock;
SmartPtr<AsyncSocket> g_socket;
std::atomic<AsyncSocket*> g_releaseOnText{nullptr};
// While a benchmark runs, received texts are only counted.
std::atomic<bool> g_quiet{false};

// Round trips of the bench command.
std::mutex g_echoLock;
std::condition_variable g_echoed;
uint64_t g_texts = 0;

uint32_t Crc32(const void* data, size_t size) {
  static uint32_t table[256];
  static std::once_flag once;
  std::call_once(once, [] {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  });
  uint32_t crc = 0xFFFFFFFFu;
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string Generate(size_t size, unsigned long salt) {
  std::string out = "G" + std::to_string(size) + ":" + std::to_string(salt) + ":";
  out.reserve(out.size() + size);
  for (size_t i = 0; i < size; ++i) out += static_cast<char>('a' + (i * 7 + salt * 13) % 26);
  return out;
}

// "true"/"false" when the text is a generated message, "null" otherwise.
const char* CheckGenerated(const char* data, size_t size) {
  if (size < 1 || data[0] != 'G') return "null";
  const std::string text(data, size);
  const size_t first = text.find(':');
  const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) return "false";
  try {
    const size_t n = std::stoul(text.substr(1, first - 1));
    const unsigned long salt = std::stoul(text.substr(first + 1, second - first - 1));
    return text == Generate(n, salt) ? "true" : "false";
  } catch (...) {
    return "false";
  }
}

std::string Json(const char* data, size_t size) {
  std::string out = "\"";
  for (size_t i = 0; i < size; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}
std::string Json(const std::string& s) { return Json(s.data(), s.size()); }

void Print(const std::string& line) {
  std::lock_guard lock(g_printLock);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Tid() { return std::to_string(GetCurrentThreadId()); }

void OnConnect(unsigned long context) {
  Print("{\"ev\":\"on_connect\",\"ctx\":" + std::to_string(context) + ",\"tid\":" + Tid() + "}");
}

void OnText(char* text, int length, unsigned long) {
  if (g_quiet) {
    {
      std::lock_guard lock(g_echoLock);
      ++g_texts;
    }
    g_echoed.notify_all();
    return;
  }
  const size_t cut = std::strlen(text);  // what a C-string reader sees
  const size_t head = cut < 60 ? cut : 60;
  Print("{\"ev\":\"on_text\",\"len\":" + std::to_string(length) + ",\"strlen\":" + std::to_string(cut) +
        ",\"terminated\":" + (text[length] == '\0' ? "true" : "false") +
        ",\"crc\":" + std::to_string(Crc32(text, length)) + ",\"valid\":" + CheckGenerated(text, length) +
        ",\"head\":" + Json(text, head) + ",\"tid\":" + Tid() + "}");
  {
    std::lock_guard lock(g_echoLock);
    ++g_texts;
  }
  g_echoed.notify_all();
  if (AsyncSocket* socket = g_releaseOnText.exchange(nullptr)) {
    socket->Release();
    Print("{\"ev\":\"released_in_callback\",\"tid\":" + Tid() + "}");
  }
}

void OnBinary(unsigned char* data, int length, unsigned long) {
  Print("{\"ev\":\"on_binary\",\"len\":" + std::to_string(length) + ",\"crc\":" + std::to_string(Crc32(data, length)) +
        ",\"tid\":" + Tid() + "}");
}

void OnSendComplete(void*, int length, unsigned long) {
  Print("{\"ev\":\"on_send_complete\",\"len\":" + std::to_string(length) + "}");
}

void OnError(int code, char* text, unsigned long) {
  Print("{\"ev\":\"on_error\",\"code\":" + std::to_string(code) + ",\"text\":" + Json(text, std::strlen(text)) +
        ",\"tid\":" + Tid() + "}");
}

void OnClose(int code, char* reason, unsigned long) {
  Print("{\"ev\":\"on_close\",\"code\":" + std::to_string(code) + ",\"reason\":" + Json(reason, std::strlen(reason)) +
        ",\"tid\":" + Tid() + "}");
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

long long MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

std::string Sent(const char* kind, int result) {
  return std::string("{\"ev\":\"sent\",\"kind\":\"") + kind + "\",\"result\":" + std::to_string(result) + "}";
}

void Threads(int count, int messages, size_t size) {
  std::atomic<int> failures{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  SmartPtr<AsyncSocket> socket = g_socket;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < messages; ++i) {
        const std::string message = Generate(size + (i % 7) * 1000, (t + 1) * 100000 + i);
        if (socket->SendTextFrame(message.data(), static_cast<int>(message.size()), false) !=
            static_cast<int>(message.size()))
          ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  Print("{\"ev\":\"threads_done\",\"failures\":" + std::to_string(failures) +
        ",\"sent\":" + std::to_string(count * messages) + ",\"ms\":" + std::to_string(MsSince(start)) + "}");
}

void Bench(int messages, size_t size) {
  const std::string message = Generate(size, 7);
  g_quiet = true;
  const auto start = std::chrono::steady_clock::now();
  int done = 0;
  for (; done < messages; ++done) {
    uint64_t before;
    {
      std::lock_guard lock(g_echoLock);
      before = g_texts;
    }
    if (g_socket->SendTextFrame(message.data(), static_cast<int>(message.size()), false) < 0) break;
    std::unique_lock lock(g_echoLock);
    if (!g_echoed.wait_for(lock, std::chrono::seconds(10), [&] { return g_texts > before; })) break;
  }
  const long long ms = MsSince(start);
  g_quiet = false;
  Print("{\"ev\":\"bench\",\"messages\":" + std::to_string(done) + ",\"bytes\":" + std::to_string(message.size()) +
        ",\"ms\":" + std::to_string(ms) + "}");
}

void Http(const std::vector<std::string>& a) {
  std::shared_ptr<HttpHandler::HttpClient> client;
  const HRESULT hr = ClientConnectionFactory::QueryInterface(ClientConnectionFactory::IID_HttpClient, &client);
  if (FAILED(hr) || !client) {
    Print("{\"ev\":\"http\",\"ok\":false,\"code\":-1,\"error\":\"no client\",\"response\":\"\"}");
    return;
  }
  const bool viaProxy = a.size() >= 11;
  client->SetUseProxy(viaProxy);
  client->SetConnection(a[1], std::stoi(a[2]), a[3] == "1", viaProxy ? a[7] : "", viaProxy ? std::stoi(a[8]) : 0,
                        viaProxy ? a[9] : "", viaProxy ? a[10] : "", -1, -1);
  client->BeginRequest();
  const bool ok = client->SendRequest(a[4], a[5], true, a[6]);
  std::string response, error;
  client->GetResponse(response);
  client->GetLastErrorText(error);
  Print(std::string("{\"ev\":\"http\",\"ok\":") + (ok ? "true" : "false") +
        ",\"code\":" + std::to_string(client->GetLastErrorCode()) + ",\"error\":" + Json(error) +
        ",\"response\":" + Json(response) + "}");
}

void QueryInterfaces() {
  std::shared_ptr<HttpHandler::HttpClient> good;
  const HRESULT goodHr = ClientConnectionFactory::QueryInterface(ClientConnectionFactory::IID_HttpClient, &good);
  std::shared_ptr<HttpHandler::HttpClient> bad = good;  // must be emptied
  const GUID other = {0x135abb3a, 0xdeaa, 0x4289, {0x9d, 0x67, 0x8b, 0xf1, 0x3e, 0x13, 0x9a, 0xb4}};
  const HRESULT badHr = ClientConnectionFactory::QueryInterface(other, &bad);
  const HRESULT nullHr = ClientConnectionFactory::QueryInterface(ClientConnectionFactory::IID_HttpClient, nullptr);
  char line[256];
  std::snprintf(line, sizeof line,
                "{\"ev\":\"qi\",\"good_hr\":%ld,\"good_client\":%s,\"bad_hr\":%ld,\"bad_emptied\":%s,\"null_hr\":%ld}",
                static_cast<long>(goodHr), good ? "true" : "false", static_cast<long>(badHr), bad ? "false" : "true",
                static_cast<long>(nullHr));
  Print(line);
}

// The socket commands act on: the one held, or the one whose last reference
// the text callback is about to drop.
AsyncSocket* Target() { return g_socket ? g_socket.get() : g_releaseOnText.load(); }

bool NeedSocket() {
  if (Target()) return true;
  Print("{\"ev\":\"error\",\"text\":\"no socket\"}");
  return false;
}

}  // namespace

int main() {
  Print("{\"ev\":\"ready\",\"tid\":" + Tid() + "}");
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream in(line);
    std::vector<std::string> a;
    for (std::string token; in >> token;) a.push_back(Decode(token));
    if (a.empty()) continue;
    const std::string& cmd = a[0];
    try {
      const auto start = std::chrono::steady_clock::now();
      if (cmd == "create" && a.size() >= 6) {
        g_socket = AsyncSocket::CreateAsyncSocket(1, a[1], std::stoi(a[2]), a[3] == "1",
                                                  a.size() > 6 ? std::stoul(a[6]) : 0, a[4], a[5], stProxyDetails{});
        if (g_socket) {
          g_socket->registerConnectHandler(&OnConnect);
          g_socket->registerTextMessageHandler(&OnText);
          g_socket->registerBinaryMessageHandler(&OnBinary);
          g_socket->registerSendCompleteHandler(&OnSendComplete);
          g_socket->registerErrorHandler(&OnError);
          g_socket->registerCloseHandler(&OnClose);
        }
        Print(std::string("{\"ev\":\"created\",\"ok\":") + (g_socket ? "true" : "false") + "}");
      } else if (cmd == "proxy" && a.size() >= 5 && NeedSocket()) {
        g_socket->SetProxyDetails(a[1], std::stoi(a[2]), a[3], a[4]);
        Print("{\"ev\":\"proxy_set\"}");
      } else if (cmd == "connect" && NeedSocket()) {
        const bool ok = g_socket->Connect(true);
        Print(std::string("{\"ev\":\"connect_result\",\"ok\":") + (ok ? "true" : "false") + ",\"ms\":" +
              std::to_string(MsSince(start)) + ",\"connected\":" + (g_socket->IsConnected() ? "true" : "false") + "}");
      } else if (cmd == "is_connected" && NeedSocket()) {
        Print(std::string("{\"ev\":\"is_connected\",\"value\":") + (g_socket->IsConnected() ? "true" : "false") + "}");
      } else if (cmd == "text" && a.size() >= 2 && NeedSocket()) {
        Print(Sent("text",
                   Target()->SendTextFrame(a[1].data(), static_cast<int>(a[1].size()), a.size() > 2 && a[2] == "1")));
      } else if (cmd == "textgen" && a.size() >= 3 && NeedSocket()) {
        const std::string m = Generate(std::stoul(a[1]), std::stoul(a[2]));
        Print(Sent("text", g_socket->SendTextFrame(m.data(), static_cast<int>(m.size()), false)));
      } else if (cmd == "bingen" && a.size() >= 3 && NeedSocket()) {
        const std::string m = Generate(std::stoul(a[1]), std::stoul(a[2]));
        Print(Sent("binary", g_socket->SendBinaryFrame(m.data(), static_cast<int>(m.size()), false)));
      } else if (cmd == "control" && a.size() >= 3 && NeedSocket()) {
        Print(Sent("control", g_socket->SendControlFrame(a[2].data(), static_cast<int>(a[2].size()), std::stoi(a[1]))));
      } else if (cmd == "threads" && a.size() >= 4 && NeedSocket()) {
        Threads(std::stoi(a[1]), std::stoi(a[2]), std::stoul(a[3]));
      } else if (cmd == "bench" && a.size() >= 3 && NeedSocket()) {
        Bench(std::stoi(a[1]), std::stoul(a[2]));
      } else if (cmd == "close" && a.size() >= 2 && NeedSocket()) {
        g_socket->Close(a[1] == "1");
        Print("{\"ev\":\"close_returned\",\"ms\":" + std::to_string(MsSince(start)) + "}");
      } else if (cmd == "release") {
        g_socket.reset();
        Print("{\"ev\":\"released\",\"ms\":" + std::to_string(MsSince(start)) + "}");
      } else if (cmd == "release_on_text" && g_socket) {
        // The text callback then drops the last reference from the receive thread.
        AsyncSocket* raw = g_socket.get();
        raw->AddRef();
        g_socket.reset();
        g_releaseOnText = raw;
        Print("{\"ev\":\"armed\"}");
      } else if (cmd == "http" && a.size() >= 7) {
        Http(a);
      } else if (cmd == "qi") {
        QueryInterfaces();
      } else if (cmd == "sleep" && a.size() >= 2) {
        Sleep(std::stoul(a[1]));
        Print("{\"ev\":\"slept\"}");
      } else if (cmd == "mark" && a.size() >= 2) {
        Print("{\"ev\":\"mark\",\"label\":" + Json(a[1]) + "}");
      } else if (cmd == "quit") {
        break;
      } else {
        Print("{\"ev\":\"error\",\"text\":" + Json("bad command: " + line) + "}");
      }
    } catch (const std::exception& e) {
      Print("{\"ev\":\"error\",\"text\":" + Json(std::string("exception: ") + e.what()) + "}");
    }
  }
  g_socket.reset();
  Print("{\"ev\":\"bye\"}");
  return 0;
}
