// Tools 1 to 3 (processes, services, local users) and their exits: one route
// per (tool, code), and one table of replies per route that turns a tool's
// outcome into its legacy envelope and log lines.
#include "core/legacy_tools.h"

#include <windows.h>

#include "core/globals.h"
#include "core/messages.h"
#include "core/outcome.h"
#include "core/text.h"
#include "infra/log.h"
#include "tools/processes/local_process.h"
#include "tools/services/Service.h"
#include "tools/users/users.h"

namespace hk {
namespace {

constexpr DWORD kServiceStopWaitMs = 30000;

// What a log line of a reply carries after its text.
enum class Extra { kNothing, kName, kSystemMessage };

struct Line {
  const wchar_t* text = nullptr;
  Extra extra = Extra::kNothing;
};

// One answer: a log line, the envelope (success or failure; none when code is
// null, where a listing sends its own response text), a log line.
struct Reply {
  Line before;
  const char* code = nullptr;
  const char* text = nullptr;  // null with a failure: the system message
  bool success = false;
  bool textWithSystemMessage = false;
  Line after;
};

// The replies of one operation, by the kind of its outcome.
struct Replies {
  Reply answer;
  Reply isFalse;
  Reply error;
};

struct Context {
  const char* tool;
  const Request& request;
  DWORD error;
};

void log_line(const Line& line, const Context& context) {
  if (!line.text) return;
  switch (line.extra) {
    case Extra::kNothing:
      WriteLog(L"%s", line.text);
      break;
    case Extra::kName:
      WriteLog(L"%s%s", line.text, context.request.cmd.c_str());
      break;
    case Extra::kSystemMessage:
      WriteLog(L"%s%s", line.text, SystemMessage(context.error).c_str());
      break;
  }
}

void say(const Reply& reply, const Context& context, const std::string& response = {}) {
  log_line(reply.before, context);
  if (reply.code && reply.success) {
    POST_JSON_success(context.tool, reply.code, reply.text, 0, context.request.webClientId);
  } else if (reply.code) {
    const std::string system = reply.text && !reply.textWithSystemMessage ? std::string()
                                                                           : ToUtf8(SystemMessage(context.error));
    const std::string text = reply.text ? reply.text + system : system;
    POST_JSON_faliure(context.tool, reply.code, text.c_str(), context.request.webClientId);
  } else if (!response.empty()) {
    g_wsHandler.SendTextLPSTR(response.c_str());
  }
  log_line(reply.after, context);
}

void answer(const Replies& replies, const char* tool, const Request& request, const Outcome& outcome) {
  const Context context{tool, request, outcome.error};
  switch (outcome.kind) {
    case Outcome::Kind::kAnswer:
      say(replies.answer, context, outcome.text);
      break;
    case Outcome::Kind::kFalse:
      say(replies.isFalse, context);
      break;
    case Outcome::Kind::kError:
      say(replies.error, context);
      break;
  }
}

// The exit requests and an invalid request end serving; make_connect returns
// within a pause.
void exit_after(const Reply& reply, const char* tool, const Request& request) {
  say(reply, {tool, request, 0});
  StopServing();
}

// ---- tool 1 ----------------------------------------------------------------------

void list_processes(const Request& request, bool fromJsonHandler) {
  static const Replies kReplies{
      {{L"Sending Data to Server (Process) || Chostkeeper::connect()||"},
       nullptr,
       nullptr,
       false,
       false,
       {L"Data sent (Process) || Chostkeeper::connect()|| Data Sent: "}},
      {{L"Was not able to enumerate thruogh Process(error was caught in TRy/catch )|| Chostkeeper::connect()||"},
       "1106",
       "Was not able to enumerate through Process ",
       false,
       false,
       {}},
      {{}, "1106", "Error  was caught while getting Process Details ", false, false,
       {L"Error  was caught while getting Process Details || Chostkeeper::connect()||"}},
  };
  WriteLog(L"response code 1101");
  const Outcome outcome = processes::ListProcesses(request.webClientId);
  if (fromJsonHandler) {
    const char* word = outcome.kind == Outcome::Kind::kFalse   ? kOutcomeFalse
                       : outcome.kind == Outcome::Kind::kError ? kOutcomeError
                                                               : outcome.text.c_str();
    WriteLog(L"resp str is %s\n", FromUtf8(word).c_str());
  }
  answer(kReplies, "1", request, outcome);
}

void terminate_process(const Request& request, bool) {
  static const Replies kReplies{
      {{}, "1305", "Process terminated successfully", true, false, {L"Process Terminated Successfully PID:"}},
      {{}, "1605", "Failed to terminate process", false, false, {L"Unable to terminate process : false"}},
      {{}, "1605", nullptr, false, false, {L"Failed to Termiate process", Extra::kSystemMessage}},
  };
  WriteLog(L"response code 1005");
  WriteLog(L"Terminating Process");
  answer(kReplies, "1", request, processes::Terminate(static_cast<uint32_t>(DecimalOf(request.cmd))));
}

void exit_tool1(const Request& request, bool) {
  WriteLog(L"response code 1105");
  exit_after({{}, "1104", "Agent Terminated", true, false, {L"response code 1105 Terminating Agent"}}, "1", request);
}

// ---- tool 2 ----------------------------------------------------------------------

void list_services(const Request& request, bool) {
  static const Line kSent{L"Sending Data to Server (Service) || Chostkeeper::connect()||"};
  static const Replies kReplies{
      {{L"Service details obtained  || Chostkeeper::connect()|| "},
       nullptr,
       nullptr,
       false,
       false,
       {L"Data sent (Service) || Chostkeeper::connect()|| Data Sent: "}},
      {{L"unable to enumerate through Services"}, "2106", "unable to enumerate through Services :", false, true, kSent},
      {{L"Error was caught while getting process details"},
       "2106",
       "Error was caught while getting process details",
       false,
       false,
       kSent},
  };
  WriteLog(L"received response code 2101");
  answer(kReplies, "2", request, services::ListServices(request.webClientId));
}

// The service operations answer 1 done, 0 failed, 2 an error was caught.
Outcome service_outcome(int result) {
  const DWORD error = ::GetLastError();
  switch (result) {
    case 1:
      return Outcome::Answer();
    case 2:
      return Outcome::Error(error);
    default:
      return Outcome::False(error);
  }
}

// The manager and then the service; on failure the reply of the one that
// could not be opened (2106).
struct OpenReplies {
  Reply manager;
  Reply service;
};

bool open_service(const OpenReplies& replies, const Request& request, DWORD access, unique_schandle& manager,
                  unique_schandle& service) {
  manager = Service::OpenManager();
  if (manager) service = Service::OpenService(manager.get(), request.cmd, access);
  if (service) return true;
  say(manager ? replies.service : replies.manager, {"2", request, ::GetLastError()});
  return false;
}

Reply open_failure(const wchar_t* log, const char* text, bool withSystemMessage) {
  return {{log, withSystemMessage ? Extra::kSystemMessage : Extra::kNothing}, "2106", text, false, false, {}};
}

void start_service(const Request& request, bool) {
  static const OpenReplies kOpen{
      open_failure(L" (service)(start)Error while opening Service Error code : ", "Error while opening Service Manager",
                   true),
      open_failure(L"(service)(start)Error while opening Service Error code : ", "Error while opening Service", true)};
  static const Replies kReplies{
      {{L"Service started :"}, "2306", "service started", true, false, {}},
      {{L"(service)(start) Error code : ", Extra::kSystemMessage}, "2606", "Unable to start Service", false, false, {}},
      {{L"Error was caught while opening Service"}, "2606", "Unable to start Service", false, false, {}},
  };
  unique_schandle manager, service;
  if (!open_service(kOpen, request, SERVICE_START, manager, service)) return;
  answer(kReplies, "2", request, service_outcome(Service::Start(service.get())));
}

void stop_service(const Request& request, bool) {
  static const OpenReplies kOpen{
      open_failure(L"(service)(stop)  Unable to open Service Manager Error Code:", "Unable to open Service Manager",
                   true),
      open_failure(L"(service)(stop) Unable to open Service Error Code:", "Unable to open Service", true)};
  static const Replies kReplies{
      {{}, "2307", "service stopped ", true, false, {L"Service Stopped : ", Extra::kName}},
      {{}, "2607", "Unable to Stop Survive", false, false, {L"(Service)(stop)Error code: ", Extra::kSystemMessage}},
      {{}, "2607", "Unable to Stop Service  Error was Caught", false, false,
       {L"(Service)(stop)Unable to Stop Survive  Error was Caught"}},
  };
  unique_schandle manager, service;
  if (!open_service(kOpen, request, SERVICE_STOP | SERVICE_QUERY_STATUS, manager, service)) return;
  answer(kReplies, "2", request, service_outcome(Service::Stop(service.get(), kServiceStopWaitMs)));
}

void change_start_type(const Request& request, bool) {
  static const Replies kReplies{
      {{}, "2308", "service type changed ", true, false, {L"Service Type Has Been Changed:", Extra::kName}},
      {{}, "2608", "Unable to Change Service Type", false, false,
       {L"Failed to Change service type ", Extra::kSystemMessage}},
      {},
  };
  const int changed = Service::change_service_type(request.cmd, request.type);
  answer(kReplies, "2", request, service_outcome(changed != 0 ? 1 : 0));
}

void restart_service(const Request& request, bool) {
  static const OpenReplies kOpen{
      open_failure(L"(service)(Restart)  Unable to open Service Manager Error Code:", "Unable to open Service Manager",
                   false),
      open_failure(L"(service)(Restart) Unable to open Service Error Code: ", " Unable to open Service", false)};
  static const Replies kStopped{
      {},
      {{}, "2609", "Unable to Restart Service", false, false, {L"(service)(Pause) Error Code : ", Extra::kSystemMessage}},
      {{}, "2609", "Unable to Restart Service Error was Caught: ", false, false, {L"(service)(Pause) Error Code : "}},
  };
  static const Replies kStarted{
      {{}, "2309", "service Restart ", true, false, {L"Service Restart ", Extra::kName}},
      {{}, "2609", "Unable to Restart Service", false, false, {L"(service)(start) Error Code : ", Extra::kSystemMessage}},
      {{}, "2609", "Unable to Restart Service Error was Caught", false, false, {L"(service)(Pause) Error Code : "}},
  };
  unique_schandle manager, service;
  if (!open_service(kOpen, request, SERVICE_STOP | SERVICE_QUERY_STATUS, manager, service)) return;
  const Outcome stopped = service_outcome(Service::Stop(service.get(), kServiceStopWaitMs));
  if (stopped.kind != Outcome::Kind::kAnswer) return answer(kStopped, "2", request, stopped);
  const unique_schandle again = Service::OpenService(manager.get(), request.cmd, SERVICE_START);
  answer(kStarted, "2", request, service_outcome(again ? Service::Start(again.get()) : 0));
}

void exit_tool2(const Request& request, bool) {
  exit_after({{}, "2104", "Agent Terminated", true, false, {L"(service)Exiting Agent"}}, "2", request);
}

// ---- tool 3 ----------------------------------------------------------------------

void list_users(const Request& request, bool) {
  static const Line kUnable{L"Unable to Get User Details || Chostkeeper::connect()|| "};
  static const Replies kReplies{
      {{L"Sucessfully got user details || Chostkeeper::connect()|| "},
       nullptr,
       nullptr,
       false,
       false,
       {L"Sucessfully sent user details || Chostkeeper::connect()|| "}},
      {kUnable, "3106", "(User) Unable to get details", false, false, {}},
      {kUnable, "3106", "(User)(resumed)Unable to resume Service Error was Caught", false, false, {}},
  };
  WriteLog(L"received response code 3101");
  WriteLog(L"connecting to WMI || Chostkeeper::connect()||");
  answer(kReplies, "3", request, users::ListAccounts());
}

void exit_tool3(const Request& request, bool) {
  exit_after({{}, "3104", "Agent Terminated", true, false, {L"(User)Exiting Agent"}}, "3", request);
}

// ---- routes ----------------------------------------------------------------------

struct Route {
  int32_t tool;
  int32_t code;
  void (*serve)(const Request& request, bool fromJsonHandler);
};

constexpr Route kRoutes[] = {
    {1, 1101, list_processes}, {1, 1005, terminate_process}, {1, 1105, exit_tool1},
    {2, 2101, list_services},  {2, 2006, start_service},     {2, 2007, stop_service},
    {2, 2008, change_start_type}, {2, 2009, restart_service}, {2, 2105, exit_tool2},
    {3, 3101, list_users},     {3, 3105, exit_tool3},
};

}  // namespace

void StopServing() {
  g_stopped = 1;
  g_running = 0;
}

void ServeLegacyRequest(const Request& request, bool fromJsonHandler) {
  for (const Route& route : kRoutes) {
    if (route.tool == request.record.toolId && route.code == request.record.requestCode) {
      route.serve(request, fromJsonHandler);
      return;
    }
  }
}

}  // namespace hk
