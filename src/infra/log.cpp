#include "infra/log.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/timeb.h>

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "core/text.h"
#include "infra/log_internal.h"
#include "infra/win_resource.h"

namespace {

constexpr int kRotateAfterLines = 5000;
constexpr int kKeptCopies = 10;
const std::wstring kStars(84, L'*');

struct LogState {
  std::wstring directory;
  std::wstring path;
  std::wstring fileName = L"ToolsSys.log";
  std::wstring product;
  std::wstring version;
  DWORD pid = 0;
  // Serialises all file access within the process. A lock of the process's
  // own, not a kernel mutex: an unnamed mutex serialises nothing more, and
  // under Wine each wait and release on one is a round trip to the server.
  std::mutex lock;
  std::atomic<bool> started{false};  // InitLog has run
  int lineCount = 0;  // guarded by lock
  std::atomic<int> threshold{0};
  std::atomic<bool> fileUsable{false};
  std::atomic<bool> writeAttempted{false};
};

LogState& state() {
  static LogState s;
  return s;
}

bool failed() {
  const LogState& s = state();
  return !s.fileUsable.load() && s.writeAttempted.load();
}

// ---- formatting -----------------------------------------------------------

template <typename Char>
void append_ascii(std::basic_string<Char>& out, const char* text) {
  for (; *text; ++text) out.push_back(static_cast<Char>(*text));
}

bool readable(const wchar_t* s) { return s && !::IsBadStringPtrW(s, static_cast<UINT_PTR>(-1)); }
bool readable(const char* s) { return s && !::IsBadStringPtrA(s, static_cast<UINT_PTR>(-1)); }

// Only %d %u %x %ld %f %s; anything else after '%' is copied with the '%' and
// takes no argument, so a stray conversion never reads a wrong vararg type.
template <typename Char>
std::basic_string<Char> format_v(const Char* format, va_list args) {
  std::basic_string<Char> out;
  char number[64];
  for (const Char* p = format; *p; ++p) {
    if (*p != '%') {
      out.push_back(*p);
      continue;
    }
    const Char c = p[1];
    switch (c) {
      case 'd':
        std::snprintf(number, sizeof number, "%d", va_arg(args, int));
        append_ascii(out, number);
        ++p;
        break;
      case 'u':
        std::snprintf(number, sizeof number, "%u", va_arg(args, unsigned));
        append_ascii(out, number);
        ++p;
        break;
      case 'x':
        std::snprintf(number, sizeof number, "%x", va_arg(args, unsigned));
        append_ascii(out, number);
        ++p;
        break;
      case 'f':
        std::snprintf(number, sizeof number, "%f", va_arg(args, double));
        append_ascii(out, number);
        ++p;
        break;
      case 'l':
        if (p[2] == 'd') {
          std::snprintf(number, sizeof number, "%ld", va_arg(args, long));
          append_ascii(out, number);
          p += 2;
        } else {
          ++p;  // a lone 'l' is dropped
        }
        break;
      case 's': {
        const Char* s = va_arg(args, const Char*);
        if (readable(s)) out += s;
        ++p;
        break;
      }
      case 0:
        out.push_back('%');
        break;
      default:
        out.push_back('%');
        out.push_back(c);
        ++p;
        break;
    }
  }
  return out;
}

std::wstring two_digits(int v) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"%.2d", v);
  return buf;
}

std::wstring date_text(const tm& t) {
  wchar_t buf[32];
  std::swprintf(buf, 32, L"%.2d-%.2d-%.4d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
  return buf;
}

// ---- file writing ---------------------------------------------------------

// The bytes the runtime's text mode would write for text: "\n" becomes CR LF
// and each character goes through the current locale; a character the locale
// cannot take becomes '?' instead of cutting the rest of the entry. Built in
// memory so that an entry is one write.
std::string file_bytes(const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size() + text.size() / 16 + 8);
  char one[MB_LEN_MAX];
  for (const wchar_t c : text) {
    if (c == L'\n') {
      bytes += "\r\n";
      continue;
    }
    // ASCII is itself in every locale; the runtime's conversion takes a lock.
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
      continue;
    }
    int n = -1;
    if (::wctomb_s(&n, one, sizeof one, c) != 0 || n <= 0) {
      bytes.push_back('?');
    } else {
      bytes.append(one, static_cast<size_t>(n));
    }
  }
  return bytes;
}

// Each entry opens the file once and writes once: the file may be moved or
// deleted between entries, and another process may read it at any time.
enum class OpenMode { kAppendExisting, kTruncate };

hk::unique_hfile open_file(const std::wstring& path, OpenMode mode) {
  return hk::unique_hfile(::CreateFileW(path.c_str(), mode == OpenMode::kTruncate ? GENERIC_WRITE : FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        mode == OpenMode::kTruncate ? CREATE_ALWAYS : OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

void write_text(HANDLE file, const std::wstring& text) {
  const std::string bytes = file_bytes(text);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring started_line(const tm& t, bool gmt) {
  return L"\t\t\tLogging started from: [" + date_text(t) + (gmt ? L"][GMT] " : L"] ") +
         L"\n\t\t\tProduct Name: " + state().product + L" \n\t\t\tVersion: " + state().version;
}

// The three headers. The lines each adds to the count are the count readers
// of this log have always seen (7, 9 and 7), not its line feeds, so that
// rotation comes after the same entry as ever.
struct Header {
  std::wstring text;
  int counted;
};

Header new_file_header(const tm& local) {
  const LogState& s = state();
  return {L"\n" + kStars + L"\n" + started_line(local, false) + L"\n" + kStars + L"\n" + L"\n" + s.path + L"\n", 7};
}

Header start_up_header(const tm& local, const std::wstring& executable) {
  const LogState& s = state();
  return {L"\n\n" + kStars + L"\n" + started_line(local, true) + L"\n" + kStars + L"\n" + s.path + L"\n" + executable +
              L"\n" + L"PDT TIME STARTED\n",
          9};
}

Header rotation_header(const tm& local, const std::wstring& ctimeText) {
  const LogState& s = state();
  return {L"\n" + kStars + L"\n" + started_line(local, false) + L"\nTIME----" + ctimeText + L"\n" + L"\n" + kStars +
              L"\n" + L"\n" + s.path + L"\n",
          7};
}

// Writes a header and an entry in one write; counts what the header is worth
// and one line for the entry.
void write_header_and_entry(HANDLE file, const Header& header, const std::wstring& entry) {
  write_text(file, header.text + entry);
  state().lineCount += header.counted + 1;
}

void rotate(const std::wstring& text, const __time64_t now, unsigned short millis) {
  LogState& s = state();
  s.lineCount = 0;
  const std::wstring base = s.fileName.size() > 4 ? s.fileName.substr(0, s.fileName.size() - 4) : L"";
  auto numbered = [&](int i) { return s.directory + L"\\" + base + std::to_wstring(i) + L".log"; };
  for (int i = kKeptCopies; i >= 1; --i) ::CopyFileW(numbered(i - 1).c_str(), numbered(i).c_str(), FALSE);
  ::CopyFileW(s.path.c_str(), numbered(1).c_str(), FALSE);

  const hk::unique_hfile file = open_file(s.path, OpenMode::kTruncate);
  if (!file) return;
  s.fileUsable = true;
  tm local{};
  _localtime64_s(&local, &now);
  wchar_t ctime_text[64] = L"";
  _wctime64_s(ctime_text, 64, &now);
  const std::wstring ct = ctime_text;
  write_header_and_entry(file.get(), rotation_header(local, ct),
                         L"The time is " + ct.substr(0, 19) + L"." + std::to_wstring(millis) + L" " +
                             (ct.size() > 20 ? ct.substr(20) : L"") + L"  " + text);
}

void log_to_file(const std::wstring& whole) {
  const std::wstring text = hk::logging::BoundEntry(whole);
  LogState& s = state();
  if (!s.started || failed()) return;
  const std::lock_guard<std::mutex> held(s.lock);

  __timeb64 now{};
  _ftime64(&now);
  tm local{};
  _localtime64_s(&local, &now.time);
  // The attempt is marked once its outcome is known, and a usable file before
  // the attempt: other threads test the two flags without the lock, and must
  // never see an attempt without its file while the first one is under way.
  struct MarkAttempt {
    LogState& s;
    ~MarkAttempt() { s.writeAttempted = true; }
  } const mark{s};

  if (hk::unique_hfile file = open_file(s.path, OpenMode::kAppendExisting)) {
    if (s.lineCount >= kRotateAfterLines) {
      file.reset();
      rotate(text, now.time, now.millitm);
    } else {
      s.fileUsable = true;
      write_text(file.get(), hk::logging::EntryLine(s.pid, local.tm_hour, local.tm_min, local.tm_sec, now.millitm, text));
      s.lineCount += 1;
    }
  } else if (const hk::unique_hfile created = open_file(s.path, OpenMode::kTruncate)) {
    s.fileUsable = true;
    write_header_and_entry(created.get(), new_file_header(local),
                           L"\n" + two_digits(local.tm_hour) + L":" + two_digits(local.tm_min) + L":" +
                               two_digits(local.tm_sec) + L"  " + text);
  }
}

// Callers report GetLastError() after logging, so the log must not change it.
using LastErrorKeeper = hk::last_error_keeper;

thread_local std::vector<hk::logging::LoggedLine>* t_recorded = nullptr;

bool gated(int level) { return failed() || level > state().threshold.load(); }

int write_line(int level, const std::wstring& text) {
  if (gated(level)) return 0;
  log_to_file(text);
  return 1;
}

int write_wide(int level, const wchar_t* format, va_list args) {
  if (!format || !*format) return 0;
  if (!t_recorded && gated(level)) return 0;
  const LastErrorKeeper keep;
  std::wstring text = format_v(format, args);
  if (t_recorded) t_recorded->push_back({level, text});
  return write_line(level, text);
}

HMODULE this_module() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

// ---- start-up -------------------------------------------------------------

std::wstring folder_path(int csidl) {
  wchar_t buf[MAX_PATH] = L"";
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) return {};
  return buf;
}

std::wstring executable_path() {
  wchar_t buf[MAX_PATH] = L"";
  ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return buf;
}

void set_tools_working_directory() {
  wchar_t user[200] = L"";
  DWORD size = 200;
  ::GetUserNameW(user, &size);
  const bool system = std::wstring(user).find(L"SYSTEM") != std::wstring::npos;
  const std::wstring dir = folder_path(system ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA) + L"\\" + L"Quillstead";
  if (!::SetCurrentDirectoryW(dir.c_str())) WriteLog(L"Unable to set working directory");
}

std::wstring working_directory() {
  wchar_t buf[MAX_PATH] = L"";
  ::GetCurrentDirectoryW(MAX_PATH, buf);
  return buf;
}

std::wstring choose_directory(bool useExecutableFolder, bool agentLayout, const std::wstring& cwd) {
  if (!useExecutableFolder) return cwd + L"\\" + L".\\log";
  wchar_t exe[MAX_PATH] = L"";
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  ::PathRemoveFileSpecW(exe);
  std::wstring folder = exe;
  if (!agentLayout) return folder + L"\\" + L".\\log";
  const size_t cut = folder.rfind(L'\\');
  folder.erase(cut == std::wstring::npos ? 0 : cut);
  return folder + L"\\" + L"logs";
}

void move_stale_copy(const std::wstring& logPath, const std::wstring& fileName) {
  const std::wstring stale =
      folder_path(CSIDL_LOCAL_APPDATA) + L"\\VirtualStore\\ProgramData\\" + L"Pellarine" + L"\\log\\" + fileName;
  if (::PathFileExistsW(stale.c_str())) {
    ::CopyFileW(stale.c_str(), logPath.c_str(), FALSE);
    ::DeleteFileW(stale.c_str());
  }
}

int count_line_feeds(HANDLE file) {
  int count = 0;
  char buf[64 * 1024];
  DWORD n = 0;
  while (::ReadFile(file, buf, sizeof buf, &n, nullptr) && n > 0)
    for (DWORD i = 0; i < n; ++i) count += buf[i] == '\n';
  return count;
}

}  // namespace

// ---- public calls -----------------------------------------------------------

int WriteLog(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int r = write_wide(2, format, args);
  va_end(args);
  return r;
}

int WriteLogLevel1(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int r = write_wide(1, format, args);
  va_end(args);
  return r;
}

int WriteLogLevel0(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int r = write_wide(0, format, args);
  va_end(args);
  return r;
}

int WriteLogA(const char* format, ...) {
  if (2 > state().threshold.load()) return 0;
  const LastErrorKeeper keep;
  std::string resource;
  if (reinterpret_cast<UINT_PTR>(format) < 0x10000) {
    char buf[4096] = "";
    const int n = ::LoadStringA(this_module(), static_cast<UINT>(reinterpret_cast<UINT_PTR>(format)), buf, sizeof buf);
    if (n <= 0) return 0;
    resource.assign(buf, static_cast<size_t>(n));
    format = resource.c_str();
  }
  if (!*format) return 0;
  va_list args;
  va_start(args, format);
  const std::string text = format_v(format, args);
  va_end(args);
  log_to_file(hk::Widen(text));
  return 1;
}

int SetLogLevel(int level) {
  if (level <= 2 && level >= 0) {
    state().threshold = level;
    return 1;
  }
  state().threshold = 1;
  return 0;
}

void LogBuildBanner() {
  const std::string stamp = hk::logging::FormatMessageNarrow("Date:%s @ %s", __DATE__, __TIME__);
  WriteLogA("%s @ %s", HK_BANNER_HOST, stamp.c_str());
}

bool IsAgentWorkingDirectory() {
  const std::wstring cwd = working_directory();
  return cwd.find(L"Marrowfield_Agent") != std::wstring::npos || cwd.find(L"Tanglewick_Agent") != std::wstring::npos;
}

void InitLog(const wchar_t* productName, const wchar_t* version, const wchar_t* logFileName,
             bool useExecutableFolder, const wchar_t* /*reserved*/, bool agentLayout) {
  LogState& s = state();
  s.writeAttempted = false;
  if (!agentLayout) set_tools_working_directory();
  const std::wstring cwd = working_directory();

  s.directory = choose_directory(useExecutableFolder, agentLayout, cwd);
  s.path = s.directory + L"\\" + logFileName;
  s.product = productName ? productName : L"";
  if (version && *version) {
    s.version = version;
    s.fileName = logFileName;
  }
  move_stale_copy(s.path, logFileName);

  s.pid = ::GetCurrentProcessId();
  wchar_t cwdCheck[MAX_PATH];
  if (!::_wgetcwd(cwdCheck, MAX_PATH)) return;

  s.started = true;
  const __time64_t now = _time64(nullptr);
  tm local{};
  _localtime64_s(&local, &now);
  s.lineCount = 0;
  const bool directoryExisted = ::_wmkdir(s.directory.c_str()) != 0;
  const std::wstring exe = executable_path();

  hk::unique_hfile existing(::CreateFileW(s.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (existing) {
    if (::_wchmod(s.path.c_str(), _S_IWRITE) != 0) return;
    s.lineCount = count_line_feeds(existing.get());
    s.fileUsable = true;
    existing.reset();
    if (directoryExisted) {
      if (const hk::unique_hfile file = open_file(s.path, OpenMode::kAppendExisting)) {
        const Header header = start_up_header(local, exe);
        write_text(file.get(), header.text);
        s.lineCount += header.counted;
      }
    }
  } else if (const DWORD error = ::GetLastError(); error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    s.writeAttempted = true;
  }
  LogBuildBanner();
}

// ---- test seams -------------------------------------------------------------

namespace hk::logging {

LineRecorder::LineRecorder() : outer_(t_recorded) { t_recorded = &lines_; }
LineRecorder::~LineRecorder() { t_recorded = outer_; }
std::vector<LoggedLine> LineRecorder::Take() { return std::move(lines_); }

void Replay(const std::vector<LoggedLine>& lines) {
  const LastErrorKeeper keep;
  for (const LoggedLine& line : lines) write_line(line.level, line.text);
}

std::wstring BoundEntry(const std::wstring& text) {
  if (text.size() <= kMaxEntryChars) return text;
  return text.substr(0, kMaxEntryChars) + L" ... [" + std::to_wstring(text.size() - kMaxEntryChars) +
         L" characters left out]";
}

std::wstring FormatMessageV(const wchar_t* format, va_list args) { return format ? format_v(format, args) : L""; }
std::string FormatMessageNarrowV(const char* format, va_list args) { return format ? format_v(format, args) : ""; }

std::wstring FormatMessage(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring r = FormatMessageV(format, args);
  va_end(args);
  return r;
}

std::string FormatMessageNarrow(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string r = FormatMessageNarrowV(format, args);
  va_end(args);
  return r;
}

std::wstring EntryLine(unsigned long pid, int hour, int minute, int second, int milliseconds,
                       const std::wstring& text) {
  return L"\n" + std::to_wstring(pid) + L" " + two_digits(hour) + L":" + two_digits(minute) + L":" +
         two_digits(second) + L":" + std::to_wstring(milliseconds) + L"  " + text;
}

Snapshot State() {
  LogState& s = state();
  return {s.directory, s.path, s.lineCount, s.threshold.load(), s.fileUsable.load(), s.writeAttempted.load()};
}

void ResetForTesting() {
  LogState& s = state();
  const std::lock_guard<std::mutex> held(s.lock);
  s.directory.clear();
  s.path.clear();
  s.fileName = L"ToolsSys.log";
  s.product.clear();
  s.version.clear();
  s.lineCount = 0;
  s.threshold = 0;
  s.fileUsable = false;
  s.writeAttempted = false;
}

void SetLineCountForTesting(int count) {
  LogState& s = state();
  const std::lock_guard<std::mutex> held(s.lock);
  s.lineCount = count;
}

}  // namespace hk::logging
