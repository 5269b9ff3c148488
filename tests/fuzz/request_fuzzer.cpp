// Feeds request texts to Chostkeeper::connect as the socket's delivery thread
// does, a recording socket in place of the network, and checks every answer,
// the run flag and the refusal log lines. Acting requests reach only what the
// fuzzer owns: a child process (1005) and a service (2006-2009) of its own; the
// groups and sharing tools' acting NetApi calls meet a refusing stand-in, and
// device and startup program actions are counted, not delivered.
//   request_fuzzer.exe [--cases N] [--first K] [--limit-seconds S]
// Exit 1: wrong answers; 2: no targets; 3: a crash; 4: a hang. The last line
// sums up for scripts/fuzz, which goes on after a crash or a hang.
#include <windows.h>

#include <json/reader.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/globals.h"
#include "core/messages.h"
#include "core/text.h"
#include "infra/log.h"
#include "infra/log_internal.h"
#include "processes/child_process.h"
#include "request_cases.h"
#include "tools/groups/group_api.h"
#include "tools/sharing/sharing_api.h"
#include "services/registered_service.h"
#include "support/recording_socket.h"
#include "support/scratch_dir.h"

namespace {

constexpr int kExitWrong = 1, kExitNoTargets = 2, kExitCrash = 3, kExitHang = 4;
constexpr uint64_t kReportedWrong = 20;  // with their text

// ---- crash and hang reports ---------------------------------------------------------

std::atomic<int64_t> g_case{-1};
std::atomic<ULONGLONG> g_caseStart{0};
std::atomic<ULONGLONG> g_limitMs{90000};
char g_about[240] = "";

[[noreturn]] void EndWith(const char* what, unsigned long code, int exitCode) {
  char line[400];
  std::snprintf(line, sizeof line, "%s case=%lld code=0x%08lx about=%s\n", what, static_cast<long long>(g_case.load()),
                code, g_about);
  // Straight to the handle: the C runtime's locks may be held by the thread
  // that crashed.
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
  std::_Exit(exitCode);
}

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* info) {
  EndWith("crash", info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0, kExitCrash);
}

DWORD WINAPI Watchdog(void*) {
  for (;;) {
    ::Sleep(250);
    const ULONGLONG start = g_caseStart.load();
    if (g_case.load() >= 0 && start && ::GetTickCount64() - start > g_limitMs.load()) EndWith("hang", 0, kExitHang);
  }
}

// ---- what the fuzzer owns -----------------------------------------------------------

// Answers as for a caller without the right: nothing is changed.
template <typename... Args>
NET_API_STATUS WINAPI Refused(Args...) {
  return ERROR_ACCESS_DENIED;
}

template <typename... Args>
void Refuse(NET_API_STATUS(WINAPI*& call)(Args...)) {
  call = &Refused<Args...>;
}

class Targets {
 public:
  // The acting NetApi calls are refused for the program's life; the listings
  // stay the system's.
  Targets() : manager_(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
    Refuse(hk::groups::g_groupApi.add_members), Refuse(hk::groups::g_groupApi.del_members);
    Refuse(hk::groups::g_groupApi.add_group), Refuse(hk::groups::g_groupApi.del_group);
    Refuse(hk::sharing::g_sharingApi.NetShareSetInfo), Refuse(hk::sharing::g_sharingApi.NetShareDel);
    Refuse(hk::sharing::g_sharingApi.NetSessionDel), Refuse(hk::sharing::g_sharingApi.NetFileClose);
  }

  bool ready() const { return service_.created() && manager_; }
  std::string service_name() const { return hk::ToUtf8(service_.name()); }

  // A fresh child when the last one was ended.
  hk::test::ChildProcess* child() {
    if (!child_ || ::WaitForSingleObject(child_->handle(), 0) != WAIT_TIMEOUT)
      child_ = hk::test::ChildProcess::Start(hk::test::SleeperPath(), L"");
    return child_.get();
  }

  // True when name opens a service and it is not the fuzzer's.
  bool names_another_service(const std::wstring& name) const {
    if (_wcsicmp(name.c_str(), service_.name().c_str()) == 0) return false;
    const hk::unique_schandle service(::OpenServiceW(manager_.get(), name.c_str(), SERVICE_QUERY_STATUS));
    return service.valid();
  }

 private:
  hk::test::RegisteredService service_;
  hk::unique_schandle manager_;
  std::unique_ptr<hk::test::ChildProcess> child_;
};

struct Prepared {
  std::string text;  // what is delivered
  bool deliver = true;
  DWORD childPid = 0;  // the 1005 target, when it is the fuzzer's child
};

// The loaded request decides whether the text acts on the machine; when it
// does, its target is replaced in the parsed document, which loads the same.
Prepared Prepare(const std::string& seen, Targets& targets) {
  Prepared out{seen};
  const ToolsJsonFormatter request = LoadRequest(seen);
  const int32_t tool = request.toolId, code = request.requestCode;
  const bool process = tool == 1 && code == 1005, service = tool == 2 && code >= 2006 && code <= 2009;
  out.deliver = !((tool == 10 && code == 10003) || (tool == 15 && code == 15001));
  Json::Value doc;
  if (!(process || service) || ChangeStringToJson(seen, doc) != 0) return out;
  Json::Value& data = doc["requestMessage"]["requestData"];
  const Json::Value* cmd = data.isObject() ? data.find("cmd", "cmd" + 3) : nullptr;
  if (!cmd || !cmd->isString()) return out;  // nothing names a target
  if (process) {
    if (cmd->asString().find_first_of("0123456789") == std::string::npos) return out;
    hk::test::ChildProcess* child = targets.child();
    out.deliver = child != nullptr;
    if (!child) return out;
    out.childPid = child->pid();
    data["cmd"] = std::to_string(child->pid());
  } else {
    if (!targets.names_another_service(hk::FromUtf8(cmd->asString()))) return out;
    data["cmd"] = targets.service_name();
  }
  out.text = hk::fuzz::Compact(doc);
  return out;
}

// ---- what the answers must be ---------------------------------------------------------

struct Legacy {
  int32_t code;
  std::set<std::string> success, failure;
  bool exits;
};

const Legacy kLegacy[] = {
    {1101, {"1301"}, {"1106"}, false},
    {1005, {"1305"}, {"1605"}, false},
    {1105, {"1104"}, {}, true},
    {2101, {"2301"}, {"2106"}, false},
    {2006, {"2306"}, {"2606", "2106"}, false},
    {2007, {"2307"}, {"2607", "2106"}, false},
    {2008, {"2308"}, {"2608"}, false},
    {2009, {"2309"}, {"2609", "2106"}, false},
    {2105, {"2104"}, {}, true},
    {3101, {"3301"}, {"3106"}, false},
    {3105, {"3104"}, {}, true},
};

// Empty when one answer text has the envelope and code the request calls for:
// a legacy tool's (texts, its own webClientId) or a formatter tool's (numbers).
std::string CheckAnswer(const std::string& text, const ToolsJsonFormatter& request, const Legacy* legacy) {
  Json::Value a;
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &a, nullptr) || !a.isObject())
    return "the answer is not a JSON object";
  const int32_t tool = request.toolId, code = request.requestCode;
  const bool success = a["isSuccess"] == "true";
  if (!success && a["isSuccess"] != "false") return "an answer without isSuccess";
  const Json::Value& got = (legacy ? a["responseMessage"] : a)[success ? "responseCode" : "errorCode"];
  if (!legacy) {
    if (a["toolId"] != tool || a["responseId"] != 0 || a["messageVersion"] != 1.0)
      return "formatter answer with another tool, id or version";
    const Json::Value expected = success ? code + 300 : tool == 6 ? code + 600 : tool * 1000 + 600;
    return got == expected || (success && tool == 7 && got == 7304) ? "" : "formatter answer with an unexpected code";
  }
  const std::string toolText = std::to_string(tool), webClientId = hk::ToUtf8(request.webClientId);
  if (a["toolId"] != toolText || a["responseId"] != toolText) return "legacy answer names another tool";
  if (webClientId.empty() ? a.isMember("webClientId") : a["webClientId"] != webClientId)
    return "legacy answer carries another webClientId";
  const Json::Value& message = a["responseMessage"];
  if (success ? a["messageVersion"] != "1" || message["isPagedResponse"] != "False"
              : a["messageVersion"] != "1.0" || !message["errorOutput"].isString())
    return "malformed legacy answer";
  const std::set<std::string>& codes = success ? legacy->success : legacy->failure;
  return got.isString() && codes.count(got.asString()) ? "" : "legacy answer with an unexpected code";
}

// The log of one case, CR LF read as LF.
std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), {}};
  std::erase(text, '\r');
  return text;
}

// Each log entry's text stands between two blanks and a line end.
bool Logged(const std::string& log, const std::string& entry) {
  return (log + "\n").find("  " + entry + "\n") != std::string::npos;
}

struct Outcome {
  std::vector<std::string> texts;
  int32_t running = 0;
  std::string log;
};

// Empty when the library did what the loaded request asks for.
std::string Check(const ToolsJsonFormatter& request, const Outcome& got) {
  for (const std::string& t : got.texts)
    if (!t.empty() && ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, t.data(), t.size(), nullptr, 0) == 0)
      return "an answer is not valid UTF-8";
  if (got.log.find("Error was caught while handling a request || Chostkeeper::") != std::string::npos)
    return "an exception reached the dispatch's last catch";

  const int32_t tool = request.toolId, code = request.requestCode;
  const bool formatter = (tool >= 5 && tool <= 10) || tool == 15;
  if (tool <= 0 || (tool > 3 && !formatter)) {
    const std::string line =
        tool == 0 ? "Exiting Agent As toolid 0 was recived" : "Invalid Request || Chostkeeper::connect()|| ";
    if (got.texts.empty() && got.running == 0 && Logged(got.log, line)) return "";
    return "answered, did not stop or did not log \"" + line + "\"";
  }
  const Legacy* legacy = nullptr;
  for (const Legacy& l : kLegacy)
    if (l.code == code && code / 1000 == tool) legacy = &l;
  if (!formatter && !legacy)
    return got.texts.empty() && got.running == 1 ? "" : "an unserved code was answered or stopped";
  if (got.texts.size() != 1) return std::to_string(got.texts.size()) + " answers instead of one";
  if (got.running != (legacy && legacy->exits ? 0 : 1)) return "the run flag is wrong after the answer";
  const bool mustAnswer = (tool == 6 && code >= 6000 && code <= 6002) || (tool == 7 && code == 7000);
  if (formatter && got.texts[0].empty()) return mustAnswer ? "an empty answer where the tool always answers" : "";
  const std::string wrong = CheckAnswer(got.texts[0], request, legacy);
  return wrong.empty() ? "" : wrong + ": " + got.texts[0].substr(0, 200);
}

// ---- running ----------------------------------------------------------------------

std::string Printable(const std::string& s, size_t most) {
  std::string out;
  for (size_t i = 0; i < s.size() && i < most; ++i) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(s[i]));
    out += s[i] >= 0x20 && s[i] < 0x7F ? std::string(1, s[i]) : hex;
  }
  return s.size() > most ? out + "... (" + std::to_string(s.size()) + " bytes)" : out;
}

struct Tally {
  uint64_t run = 0, wrong = 0, notDelivered = 0;
  ULONGLONG slowestMs = 0;
  std::map<std::string, uint64_t> kinds;
};

// Delivers one case as the socket would and checks what became of it.
void RunCase(uint64_t index, Targets& targets, const hk::test::RecordingWsSession& session, const std::wstring& logPath,
             Tally& tally) {
  hk::fuzz::Case c = hk::fuzz::MakeCase(index);
  const std::string placeholder = "hk-fuzz-service", service = targets.service_name();
  for (size_t at = c.text.find(placeholder); at != std::string::npos;
       at = c.text.find(placeholder, at + service.size()))
    c.text.replace(at, placeholder.size(), service);
  std::snprintf(g_about, sizeof g_about, "%s", c.about.c_str());
  g_case = static_cast<int64_t>(index);
  g_caseStart = ::GetTickCount64();

  // The socket hands over the text up to its first NUL.
  const Prepared prepared = Prepare(c.text.substr(0, c.text.find('\0')), targets);
  ++tally.run;
  if (!prepared.deliver) {
    ++tally.notDelivered;
    return;
  }
  const ToolsJsonFormatter request = LoadRequest(prepared.text);
  g_running = 1;
  g_stopped = 0;
  hk::logging::SetLineCountForTesting(0);
  ::DeleteFileW(logPath.c_str());
  session.clear();
  const ULONGLONG start = ::GetTickCount64();
  g_caseStart = start;
  session.socket().DeliverText(prepared.text);
  const ULONGLONG took = ::GetTickCount64() - start;
  g_caseStart = 0;

  const Outcome got{session.texts(), g_running.load(), ReadAll(logPath)};
  std::string problem = Check(request, got);
  if (problem.empty() && prepared.childPid && !got.texts.empty() &&
      got.texts[0].find("\"1305\"") != std::string::npos) {
    const hk::unique_handle child(::OpenProcess(SYNCHRONIZE, FALSE, prepared.childPid));
    if (child && ::WaitForSingleObject(child.get(), 5000) == WAIT_TIMEOUT) problem = "1305 but the process runs on";
  }
  if (took > tally.slowestMs) {
    tally.slowestMs = took;
    std::printf("slowest case=%llu ms=%llu about=%s\n", index, took, c.about.c_str());
  }
  ++tally.kinds[request.toolId == 0    ? "exits"
                : got.running == 0     ? (got.texts.empty() ? "refused" : "answered_then_stopped")
                : got.texts.empty()    ? "ignored"
                : got.texts[0].empty() ? "answered_empty"
                                       : "answered"];
  // Refusals that went through a catch: the reader's depth limit, or a tool's
  // own last line of defence.
  if (got.log.find("ChangeStringToJson: Exception Occurred") != std::string::npos) ++tally.kinds["reader_threw"];
  if (got.log.find("Error was caught while handling a request || ") != std::string::npos) ++tally.kinds["tool_caught"];
  if (!problem.empty()) {
    std::printf("wrong case=%llu about=%s: %s\n", index, c.about.c_str(), problem.c_str());
    if (++tally.wrong <= kReportedWrong) std::printf("  text: %s\n", Printable(prepared.text, 300).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, uint64_t> args{{"--cases", 1000}, {"--first", 0}, {"--limit-seconds", 90}};
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 == argc || !args.count(argv[i])) {
      std::fprintf(stderr, "usage: request_fuzzer [--cases N] [--first K] [--limit-seconds S]\n");
      return kExitNoTargets;
    }
    args[argv[i]] = std::strtoull(argv[i + 1], nullptr, 10);
  }
  ULONG guarantee = 64 * 1024;
  ::SetThreadStackGuarantee(&guarantee);
  ::SetUnhandledExceptionFilter(&OnUnhandled);
  std::set_terminate([] { EndWith("crash", 0xC0DEu, kExitCrash); });
  std::signal(SIGABRT, [](int) { EndWith("crash", 0xABu, kExitCrash); });
  g_limitMs = args["--limit-seconds"] * 1000;
  ::CloseHandle(::CreateThread(nullptr, 0, &Watchdog, nullptr, 0, nullptr));

  // The log in a folder of its own, emptied before each case.
  hk::test::ScratchDir folder;
  if (!::SetCurrentDirectoryW(folder.path().c_str())) return kExitNoTargets;
  InitLog(L"ToolsSys", L"o.1", L"ToolsSys.log", false, L"", true);
  SetLogLevel(2);
  const std::wstring logPath = hk::logging::State().path;

  Targets targets;
  if (!targets.ready()) {
    std::printf("no test service could be registered\n");
    return kExitNoTargets;
  }
  hk::test::RecordingWsSession session;
  const uint64_t first = args["--first"], cases = args["--cases"];
  std::printf("complete families: %llu cases; running %llu from case %llu\n", hk::fuzz::CompleteCases(), cases, first);
  Tally tally;
  const ULONGLONG began = ::GetTickCount64();
  for (uint64_t index = first; index < first + cases; ++index) {
    RunCase(index, targets, session, logPath, tally);
    if (tally.run % 500 == 0)
      std::printf("... %llu cases, %llu wrong, %.0f s\n", tally.run, tally.wrong,
                  (::GetTickCount64() - began) / 1000.0);
    std::fflush(stdout);
  }
  g_case = -1;
  g_running = 0;
  std::printf("summary cases=%llu first=%llu wrong=%llu not_delivered=%llu", tally.run, first, tally.wrong,
              tally.notDelivered);
  for (const auto& [kind, count] : tally.kinds) std::printf(" %s=%llu", kind.c_str(), count);
  std::printf(" seconds=%.0f\n", (::GetTickCount64() - began) / 1000.0);
  return tally.wrong ? kExitWrong : 0;
}
