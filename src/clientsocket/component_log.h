// The component's own log ("WsAsyncSocket.log"): one short line per event,
// appended under a process-wide lock, the file opened and closed for each
// line so it can be read, moved or deleted while the agent runs. Past 4 MiB
// the file is renamed to <name>1<ext> (the previous copy is replaced).
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace clientsocket {

class ComponentLog {
 public:
  // path as the caller gave it, relative to the working directory at this
  // call; its folder is created. An empty path gives a log that drops lines.
  static std::shared_ptr<ComponentLog> Open(const std::string& path);

  template <typename... Parts>
  void Write(const Parts&... parts) noexcept {
    if (path_.empty()) return;
    try {
      std::string line;
      (Append(line, parts), ...);
      WriteLine(line);
    } catch (...) {
    }
  }

 private:
  explicit ComponentLog(std::wstring path) : path_(std::move(path)) {}
  void WriteLine(std::string_view text) noexcept;

  static void Append(std::string& line, std::string_view text) { line.append(text); }
  static void Append(std::string& line, const char* text) { line.append(text ? text : "(null)"); }
  template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T> || std::is_enum_v<T>>>
  static void Append(std::string& line, T value) {
    if constexpr (std::is_enum_v<T>)
      line.append(std::to_string(static_cast<long long>(value)));
    else
      line.append(std::to_string(value));
  }

  std::wstring path_;
};

}  // namespace clientsocket
