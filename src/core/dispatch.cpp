// Routing of one request text: parsed once, then by tool id to the legacy
// tools (core/legacy_tools.cpp) or to a formatter tool's dispatcher. Runs on
// the socket's delivery thread, one message at a time.
#include <windows.h>

#include <cstdint>
#include <string>

#include "core/Chostkeeper.h"
#include "core/Server.h"
#include "core/globals.h"
#include "core/legacy_tools.h"
#include "core/messages.h"
#include "core/request.h"
#include "core/text.h"
#include "infra/log.h"
#include "tools/devices/DeviceManager.h"
#include "tools/groups/groups.h"
#include "tools/printers/PrinterDetails.h"
#include "tools/sharing/sharing.h"
#include "tools/startup/Startup_Process.h"

namespace {

void log_load(const ToolsJsonFormatter& request) {
  if (request.toolId == -1)
    WriteLog(L"determineAction:\tToolsJsonFormatter::LoadRequest() method has failed\n");
  else
    WriteLog(L"determineAction:\tToolsJsonFormatter::LoadRequest() method has Succeeded \t%d\t%d\t%d\n",
             request.toolId, request.requestId, request.requestCode);
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
      {6, hk::groups::DispatchRequest},
      {7, hk::printers::DispatchRequest},
      {8, &HandleShareRequest},
      {10, hk::devices::DeviceManagerDispatch},
      {13, nullptr},
      {15, &Startup_Process::ServerToAgentHandler},
  };
  for (const ToolRange& tool : kTools) {
    const int64_t first = static_cast<int64_t>(tool.toolId) * 1000;
    if (tool.toolId == toolId && code >= first && code <= first + 299) return tool.dispatcher;
  }
  return nullptr;
}

}  // namespace

// ---- exported entry points -----------------------------------------------------------

namespace hk {

int32_t DecimalOf(const std::wstring& text) {
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

Request RequestOf(ToolsJsonFormatter record) {
  Request request;
  request.record = std::move(record);
  if (!request.loaded()) return request;
  const Json::Value& data = request.record.requestData;
  const Json::Value* cmd = data.isObject() ? data.find("cmd", "cmd" + 3) : nullptr;
  const Json::Value* type = data.isObject() ? data.find("type", "type" + 4) : nullptr;
  request.cmd = cmd && cmd->isString() ? FromUtf8(cmd->asString()) : L"";
  request.type = type && type->isInt() ? type->asInt() : 0;
  request.code = std::to_wstring(request.record.requestCode);
  request.tool = std::to_wstring(request.record.toolId);
  request.webClientId = ToUtf8(request.record.webClientId);
  return request;
}

Request ParseRequest(const std::string& text) {
  logging::LineRecorder recorder;
  Request request = RequestOf(LoadRequest(text));
  request.loadLog = recorder.Take();
  if (!request.loaded()) WriteLog(L"Unable to parse data in  Server::parsecmdJson()");
  return request;
}

}  // namespace hk

namespace {

// The formatter tools' handler once its own load has been logged.
int handle_formatter_request(const hk::Request& request) {
  log_load(request.record);
  if (!request.loaded()) return 0;
  if (request.record.toolId == 1) {
    hk::ServeLegacyRequest(request, true);
    WriteLog(L"Not Sending data");
    return 1;
  }
  static char kEmpty[] = "";
  char* response = kEmpty;
  if (const ToolDispatcher dispatcher = find_dispatcher(request.record.toolId, request.record.requestCode)) {
    Json::Value requestData = request.record.requestData;
    Json::Value responseData;
    dispatcher(request.record.requestCode, &requestData, &responseData, &response);
  }
  if (!response) {
    WriteLog(L"Not Sending data");
    return 1;
  }
  g_wsHandler.SendTextLPSTR(response);
  if (response != kEmpty) hk::FreeText(response);
  return 1;
}

}  // namespace

void Server::parsecmdJson(std::string text, std::wstring (&commands)[4]) {
  const hk::Request request = hk::ParseRequest(text);
  commands[0] = request.tool;
  commands[1] = request.code;
  commands[2] = request.cmd;
  if (request.loaded()) commands[3] = std::to_wstring(request.type);
}

void Chostkeeper::connect(std::string text) {
  try {
    if (g_stopped != 0) {
      WriteLog(L"Request dropped: the agent has stopped serving || Chostkeeper::connect()|| ");
      return;
    }
    const hk::Request request = hk::ParseRequest(text);
    WriteLog(L"Message Recived From Server : %s", hk::FromUtf8(text).c_str());
    WriteLog(L"%s %s \n", request.tool.c_str(), request.code.c_str());
    request.LogLoadAgain();
    log_load(request.record);
    WriteLogA("webcli id %s\n", request.webClientId.c_str());

    const std::wstring& tool = request.tool;
    if (tool == L"1") {
      WriteLog(L" \n received tool_id 1");
      hk::ServeLegacyRequest(request, false);
    } else if (tool == L"2") {
      WriteLog(L"\n received tool_id 2");
      hk::ServeLegacyRequest(request, false);
    } else if (tool == L"3") {
      WriteLog(L"\n received tool_id 3");
      hk::ServeLegacyRequest(request, false);
    } else if (tool == L"0") {
      WriteLog(L"Exiting Agent As toolid 0 was recived");
      hk::StopServing();
    } else if (tool == L"5" || tool == L"6" || tool == L"7" || tool == L"8" || tool == L"9" || tool == L"10") {
      WriteLog(L"\n received tool_id >5 and <10");
      WriteLog(L"inside json req..handler");
      request.LogLoadAgain();
      handle_formatter_request(request);
    } else if (tool == L"15") {
      WriteLog(L"\n received tool_id 15");
      WriteLog(L"inside json req..handler");
      request.LogLoadAgain();
      handle_formatter_request(request);
    } else {
      WriteLog(L"Invalid Request || Chostkeeper::connect()|| ");
      hk::StopServing();
    }
  } catch (...) {
    WriteLog(L"Error was caught while handling a request || Chostkeeper::connect()|| ");
  }
}

int Chostkeeper::jsonRequestHandler(std::string text) {
  try {
    WriteLog(L"inside json req..handler");
    if (text.empty()) return 0;
    return handle_formatter_request(hk::RequestOf(LoadRequest(text)));
  } catch (...) {
    WriteLog(L"Error was caught while handling a request || Chostkeeper::jsonRequestHandler()|| ");
    return 1;
  }
}

int Chostkeeper::format(unsigned long errorCode, std::string& out) {
  // The text goes onto the wire, so UTF-8 rather than the ANSI code page.
  out = hk::ToUtf8(hk::SystemMessage(static_cast<uint32_t>(errorCode)));
  return 1;
}
