// Routing of one request text to its tool and the legacy answers of tools 0
// to 3. Runs on the socket's delivery thread, one message at a time.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/Chostkeeper.h"
#include "core/Server.h"
#include "core/globals.h"
#include "core/messages.h"
#include "core/outcome.h"
#include "core/text.h"
#include "infra/log.h"
#include "tools/devices/DeviceManager.h"
#include "tools/groups/groups.h"
#include "tools/printers/PrinterDetails.h"
#include "tools/processes/Process.h"
#include "tools/services/Service.h"
#include "tools/users/users.h"

namespace {

constexpr DWORD kServiceStopWaitMs = 30000;
constexpr DWORD kServiceStart = 0x0010;
constexpr DWORD kServiceStopAndQuery = 0x0024;

std::wstring system_message(DWORD code) {
  std::string text;
  Chostkeeper::format(code, text);
  return hk::Widen(text);
}

// A decimal number as the C runtime's _wtoi reads it: blanks, a sign, then
// digits; 0 when there are none. Saturates instead of wrapping.
int32_t decimal(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// The exit requests and an invalid request end serving; make_connect returns
// within a pause.
void stop_serving() {
  g_stopped = 1;
  g_running = 0;
}

void log_load(const ToolsJsonFormatter& request) {
  if (request.toolId == -1)
    WriteLog(L"determineAction:\tToolsJsonFormatter::LoadRequest() method has failed\n");
  else
    WriteLog(L"determineAction:\tToolsJsonFormatter::LoadRequest() method has Succeeded \t%d\t%d\t%d\n",
             request.toolId, request.requestId, request.requestCode);
}

// Sends a response text that a tool built, then frees it.
void send_and_free(char* response) {
  g_wsHandler.SendTextLPSTR(response);
  hk::FreeText(response);
}

// ---- tool 1 --------------------------------------------------------------------

void list_processes(const std::string& webClientId, bool logResponse) {
  WriteLog(L"response code 1101");
  char* outcome = const_cast<char*>(hk::kOutcomeFalse);
  LocalProcess::get_details(&outcome, webClientId);
  if (logResponse) WriteLog(L"resp str is %s\n", hk::FromUtf8(outcome ? outcome : "").c_str());
  if (hk::OutcomeIs(outcome, hk::kOutcomeFalse)) {
    WriteLog(L"Was not able to enumerate thruogh Process(error was caught in TRy/catch )|| Chostkeeper::connect()||");
    POST_JSON_faliure("1", "1106", "Was not able to enumerate through Process ", webClientId);
  } else if (hk::OutcomeIs(outcome, hk::kOutcomeError)) {
    POST_JSON_faliure("1", "1106", "Error  was caught while getting Process Details ", webClientId);
    WriteLog(L"Error  was caught while getting Process Details || Chostkeeper::connect()||");
  } else if (!hk::IsOutcomeWord(outcome)) {
    WriteLog(L"Sending Data to Server (Process) || Chostkeeper::connect()||");
    g_wsHandler.SendTextLPSTR(outcome);
    WriteLog(L"Data sent (Process) || Chostkeeper::connect()|| Data Sent: ");
    hk::FreeText(outcome);
  }
}

void terminate_process(uint32_t pid, const std::string& webClientId) {
  WriteLog(L"response code 1005");
  WriteLog(L"Terminating Process");
  char* outcome = nullptr;
  LocalProcess::terminate_process(pid, &outcome);
  const DWORD error = ::GetLastError();
  if (hk::OutcomeIs(outcome, hk::kOutcomeTrue)) {
    POST_JSON_success("1", "1305", "Process terminated successfully", 0, webClientId);
    WriteLog(L"Process Terminated Successfully PID:");
  } else if (hk::OutcomeIs(outcome, hk::kOutcomeError)) {
    const std::wstring message = system_message(error);
    POST_JSON_faliure("1", "1605", hk::ToUtf8(message).c_str(), webClientId);
    WriteLog(L"Failed to Termiate process%s", message.c_str());
  } else {
    POST_JSON_faliure("1", "1605", "Failed to terminate process", webClientId);
    WriteLog(L"Unable to terminate process : %s", hk::Widen(outcome ? outcome : "").c_str());
  }
}

void serve_processes(int code, uint32_t pid, const std::string& webClientId, bool fromJsonHandler) {
  switch (code) {
    case 1101:
      list_processes(webClientId, fromJsonHandler);
      break;
    case 1005:
      terminate_process(pid, webClientId);
      break;
    case 1105:
      WriteLog(L"response code 1105");
      POST_JSON_success("1", "1104", "Agent Terminated", 0, webClientId);
      WriteLog(L"response code 1105 Terminating Agent");
      stop_serving();
      break;
    default:
      break;
  }
}

// ---- tool 2 --------------------------------------------------------------------

void fail2(const char* code, const char* text, const std::string& webClientId) {
  POST_JSON_faliure("2", code, text, webClientId);
}

void list_services(const std::string& webClientId) {
  WriteLog(L"received response code 2101");
  char* outcome = const_cast<char*>(hk::kOutcomeFalse);
  Service::get_details(&outcome, webClientId);
  const DWORD error = ::GetLastError();
  if (hk::OutcomeIs(outcome, hk::kOutcomeFalse)) {
    WriteLog(L"unable to enumerate through Services");
    const std::string text = "unable to enumerate through Services :" + hk::ToUtf8(system_message(error));
    fail2("2106", text.c_str(), webClientId);
    WriteLog(L"Sending Data to Server (Service) || Chostkeeper::connect()||");
  } else if (hk::OutcomeIs(outcome, hk::kOutcomeError)) {
    WriteLog(L"Error was caught while getting process details");
    fail2("2106", "Error was caught while getting process details", webClientId);
    WriteLog(L"Sending Data to Server (Service) || Chostkeeper::connect()||");
  } else if (!hk::IsOutcomeWord(outcome)) {
    WriteLog(L"Service details obtained  || Chostkeeper::connect()|| ");
    g_wsHandler.SendTextLPSTR(outcome);
    WriteLog(L"Data sent (Service) || Chostkeeper::connect()|| Data Sent: ");
    hk::FreeText(outcome);
  }
}

// What an operation logs and answers (2106) when the manager or the service
// cannot be opened; the log line is followed by the system message when asked.
struct OpenTexts {
  const wchar_t* managerLog;
  const char* managerAnswer;
  const wchar_t* serviceLog;
  const char* serviceAnswer;
  bool withSystemMessage;
};

bool open_service(const OpenTexts& texts, const std::wstring& name, DWORD access, const std::string& webClientId,
                  hk::unique_schandle& manager, hk::unique_schandle& service) {
  const wchar_t* log = nullptr;
  const char* answer = nullptr;
  manager = Service::OpenManager();
  if (!manager) {
    log = texts.managerLog;
    answer = texts.managerAnswer;
  } else {
    service = Service::OpenService(manager.get(), name, access);
    if (service) return true;
    log = texts.serviceLog;
    answer = texts.serviceAnswer;
  }
  const std::wstring message = texts.withSystemMessage ? system_message(::GetLastError()) : std::wstring();
  WriteLog(L"%s%s", log, message.c_str());
  fail2("2106", answer, webClientId);
  return false;
}

void start_service(const std::wstring& name, const std::string& webClientId) {
  static const OpenTexts kTexts = {L" (service)(start)Error while opening Service Error code : ",
                                   "Error while opening Service Manager",
                                   L"(service)(start)Error while opening Service Error code : ",
                                   "Error while opening Service", true};
  hk::unique_schandle manager, service;
  if (!open_service(kTexts, name, kServiceStart, webClientId, manager, service)) return;
  switch (Service::Start(service.get())) {
    case 1:
      WriteLog(L"Service started :");
      POST_JSON_success("2", "2306", "service started", 0, webClientId);
      break;
    case 0:
      WriteLog(L"(service)(start) Error code : %s", system_message(::GetLastError()).c_str());
      fail2("2606", "Unable to start Service", webClientId);
      break;
    case 2:
      WriteLog(L"Error was caught while opening Service");
      fail2("2606", "Unable to start Service", webClientId);
      break;
    default:
      break;
  }
}

void stop_service(const std::wstring& name, const std::string& webClientId) {
  static const OpenTexts kTexts = {L"(service)(stop)  Unable to open Service Manager Error Code:",
                                   "Unable to open Service Manager",
                                   L"(service)(stop) Unable to open Service Error Code:", "Unable to open Service",
                                   true};
  hk::unique_schandle manager, service;
  if (!open_service(kTexts, name, kServiceStopAndQuery, webClientId, manager, service)) return;
  switch (Service::Stop(service.get(), kServiceStopWaitMs)) {
    case 1:
      POST_JSON_success("2", "2307", "service stopped ", 0, webClientId);
      WriteLog(L"Service Stopped : %s", name.c_str());
      break;
    case 0: {
      const std::wstring message = system_message(::GetLastError());
      fail2("2607", "Unable to Stop Survive", webClientId);
      WriteLog(L"(Service)(stop)Error code: %s", message.c_str());
      break;
    }
    case 2:
      fail2("2607", "Unable to Stop Service  Error was Caught", webClientId);
      WriteLog(L"(Service)(stop)Unable to Stop Survive  Error was Caught");
      break;
    default:
      break;
  }
}

void change_start_type(const std::wstring& name, const std::wstring& type, const std::string& webClientId) {
  if (Service::change_service_type(name, decimal(type)) != 0) {
    POST_JSON_success("2", "2308", "service type changed ", 0, webClientId);
    WriteLog(L"Service Type Has Been Changed:%s", name.c_str());
  } else {
    const std::wstring message = system_message(::GetLastError());
    fail2("2608", "Unable to Change Service Type", webClientId);
    WriteLog(L"Failed to Change service type %s", message.c_str());
  }
}

void restart_service(const std::wstring& name, const std::string& webClientId) {
  static const OpenTexts kTexts = {L"(service)(Restart)  Unable to open Service Manager Error Code:",
                                   "Unable to open Service Manager",
                                   L"(service)(Restart) Unable to open Service Error Code: ", " Unable to open Service",
                                   false};
  hk::unique_schandle manager, service;
  if (!open_service(kTexts, name, kServiceStopAndQuery, webClientId, manager, service)) return;
  switch (Service::Stop(service.get(), kServiceStopWaitMs)) {
    case 0: {
      const std::wstring message = system_message(::GetLastError());
      fail2("2609", "Unable to Restart Service", webClientId);
      WriteLog(L"(service)(Pause) Error Code : %s", message.c_str());
      return;
    }
    case 2:
      fail2("2609", "Unable to Restart Service Error was Caught: ", webClientId);
      WriteLog(L"(service)(Pause) Error Code : ");
      return;
    case 1:
      break;
    default:
      return;
  }
  const hk::unique_schandle again = Service::OpenService(manager.get(), name, kServiceStart);
  const int started = again ? Service::Start(again.get()) : 0;
  switch (started) {
    case 1:
      POST_JSON_success("2", "2309", "service Restart ", 0, webClientId);
      WriteLog(L"Service Restart %s", name.c_str());
      break;
    case 0: {
      const std::wstring message = system_message(::GetLastError());
      fail2("2609", "Unable to Restart Service", webClientId);
      WriteLog(L"(service)(start) Error Code : %s", message.c_str());
      break;
    }
    case 2:
      fail2("2609", "Unable to Restart Service Error was Caught", webClientId);
      WriteLog(L"(service)(Pause) Error Code : ");
      break;
    default:
      break;
  }
}

void serve_services(const std::wstring& code, const std::wstring& name, const std::wstring& type,
                    const std::string& webClientId) {
  if (code == L"2101") {
    list_services(webClientId);
  } else if (code == L"2006") {
    start_service(name, webClientId);
  } else if (code == L"2007") {
    stop_service(name, webClientId);
  } else if (code == L"2008") {
    change_start_type(name, type, webClientId);
  } else if (code == L"2009") {
    restart_service(name, webClientId);
  } else if (code == L"2105") {
    POST_JSON_success("2", "2104", "Agent Terminated", 0, webClientId);
    WriteLog(L"(service)Exiting Agent");
    stop_serving();
  }
}

// ---- tool 3 --------------------------------------------------------------------

void list_users(const std::string& webClientId) {
  WriteLog(L"received response code 3101");
  WriteLog(L"connecting to WMI || Chostkeeper::connect()||");
  char* status = const_cast<char*>(hk::kOutcomeFalse);
  hk::users::RunAccountRequest(&status);
  if (hk::OutcomeIs(status, hk::kOutcomeFalse) || hk::OutcomeIs(status, hk::kOutcomeError)) {
    WriteLog(L"Unable to Get User Details || Chostkeeper::connect()|| ");
    POST_JSON_faliure("3", "3106",
                      hk::OutcomeIs(status, hk::kOutcomeFalse)
                          ? "(User) Unable to get details"
                          : "(User)(resumed)Unable to resume Service Error was Caught",
                      webClientId);
  } else if (!hk::IsOutcomeWord(status)) {
    WriteLog(L"Sucessfully got user details || Chostkeeper::connect()|| ");
    g_wsHandler.SendTextLPSTR(status);
    WriteLog(L"Sucessfully sent user details || Chostkeeper::connect()|| ");
    hk::FreeText(status);
  }
}

void serve_users(const std::wstring& code, const std::string& webClientId) {
  if (code == L"3101") {
    list_users(webClientId);
  } else if (code == L"3105") {
    POST_JSON_success("3", "3104", "Agent Terminated", 0, webClientId);
    WriteLog(L"(User)Exiting Agent");
    stop_serving();
  }
}

// ---- formatter tools ------------------------------------------------------------

// (request code, the request's requestData, response data starting as null,
// the response text pointer) -> unused result.
using ToolDispatcher = int (*)(int, Json::Value*, Json::Value*, char**);

struct ToolRange {
  int32_t toolId;
  ToolDispatcher dispatcher;  // null: the range is accepted and nothing runs
};

// A request code in t*1000 .. t*1000+299 goes to tool t's dispatcher.
ToolDispatcher find_dispatcher(int32_t toolId, int32_t code) {
  static const ToolRange kTools[] = {
      {6, hk::groups::DispatchRequest}, {7, hk::printers::DispatchRequest}, {8, nullptr},
      {10, hk::devices::DeviceManagerDispatch}, {13, nullptr}, {15, nullptr},
  };
  for (const ToolRange& tool : kTools) {
    const int64_t first = static_cast<int64_t>(tool.toolId) * 1000;
    if (tool.toolId == toolId && code >= first && code <= first + 299) return tool.dispatcher;
  }
  return nullptr;
}

}  // namespace

// ---- exported entry points -----------------------------------------------------------

void Server::parsecmdJson(std::string text, std::wstring (&commands)[4]) {
  commands[0].clear();
  commands[1].clear();
  commands[2].clear();
  const ToolsJsonFormatter request = LoadRequest(std::move(text));
  if (request.toolId == -1) {
    WriteLog(L"Unable to parse data in  Server::parsecmdJson()");
    return;
  }
  const Json::Value& data = request.requestData;
  const Json::Value* cmd = data.isObject() ? data.find("cmd", "cmd" + 3) : nullptr;
  const Json::Value* type = data.isObject() ? data.find("type", "type" + 4) : nullptr;
  commands[2] = cmd && cmd->isString() ? hk::FromUtf8(cmd->asString()) : L"";
  commands[1] = std::to_wstring(request.requestCode);
  commands[0] = std::to_wstring(request.toolId);
  commands[3] = std::to_wstring(type && type->isInt() ? type->asInt() : 0);
}

void Chostkeeper::connect(std::string text) {
  try {
    if (g_stopped != 0) {
      WriteLog(L"Request dropped: the agent has stopped serving || Chostkeeper::connect()|| ");
      return;
    }
    std::wstring commands[4];
    Server::parsecmdJson(text, commands);
    const std::wstring& tool = commands[0];
    const std::wstring& code = commands[1];
    WriteLog(L"Message Recived From Server : %s", hk::FromUtf8(text).c_str());
    WriteLog(L"%s %s \n", tool.c_str(), code.c_str());

    const ToolsJsonFormatter request = LoadRequest(text);
    log_load(request);
    const std::string webClientId = hk::ToUtf8(request.webClientId);
    WriteLogA("webcli id %s\n", webClientId.c_str());

    if (tool == L"1") {
      WriteLog(L" \n received tool_id 1");
      if (code == L"1101" || code == L"1005" || code == L"1105")
        serve_processes(std::stoi(code), static_cast<uint32_t>(decimal(commands[2])), webClientId, false);
    } else if (tool == L"2") {
      WriteLog(L"\n received tool_id 2");
      serve_services(code, commands[2], commands[3], webClientId);
    } else if (tool == L"3") {
      WriteLog(L"\n received tool_id 3");
      serve_users(code, webClientId);
    } else if (tool == L"0") {
      WriteLog(L"Exiting Agent As toolid 0 was recived");
      stop_serving();
    } else if (tool == L"5" || tool == L"6" || tool == L"7" || tool == L"8" || tool == L"9" || tool == L"10") {
      WriteLog(L"\n received tool_id >5 and <10");
      jsonRequestHandler(text);
    } else if (tool == L"15") {
      WriteLog(L"\n received tool_id 15");
      jsonRequestHandler(text);
    } else {
      WriteLog(L"Invalid Request || Chostkeeper::connect()|| ");
      stop_serving();
    }
  } catch (...) {
    WriteLog(L"Error was caught while handling a request || Chostkeeper::connect()|| ");
  }
}

int Chostkeeper::jsonRequestHandler(std::string text) {
  try {
    WriteLog(L"inside json req..handler");
    if (text.empty()) return 0;
    ToolsJsonFormatter request = LoadRequest(text);
    log_load(request);
    static char kEmpty[] = "";
    char* response = kEmpty;
    if (request.toolId == -1) return 0;

    if (request.toolId == 1) {
      const Json::Value& data = request.requestData;
      const Json::Value* cmd = data.isObject() ? data.find("cmd", "cmd" + 3) : nullptr;
      const uint32_t pid = cmd && cmd->isString() ? static_cast<uint32_t>(decimal(hk::FromUtf8(cmd->asString()))) : 0;
      serve_processes(request.requestCode, pid, hk::ToUtf8(request.webClientId), true);
      WriteLog(L"Not Sending data");
      return 1;
    }
    if (const ToolDispatcher dispatcher = find_dispatcher(request.toolId, request.requestCode)) {
      Json::Value responseData;
      dispatcher(request.requestCode, &request.requestData, &responseData, &response);
    }
    if (!response) {
      WriteLog(L"Not Sending data");
    } else if (response == kEmpty) {
      g_wsHandler.SendTextLPSTR(response);
    } else {
      send_and_free(response);
    }
    return 1;
  } catch (...) {
    WriteLog(L"Error was caught while handling a request || Chostkeeper::jsonRequestHandler()|| ");
    return 1;
  }
}

int Chostkeeper::format(unsigned long errorCode, std::string& out) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, errorCode,
      LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  out.assign(buffer ? buffer : "", buffer ? length : 0);
  if (buffer) ::LocalFree(buffer);
  return 1;
}
