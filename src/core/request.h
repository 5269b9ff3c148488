// One request as the dispatcher sees it: parsed once, with the command texts
// tools 1 to 3 are chosen by. The protocol loads a request up to three times
// (the command texts, the routing, the formatter tools' handler) and each
// load writes its log lines; the later loads replay what the first one logged
// instead of parsing again.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/messages.h"
#include "infra/log.h"

namespace hk {

struct Request {
  ToolsJsonFormatter record{-1, -1};
  std::vector<logging::LoggedLine> loadLog;  // what loading it logged
  // Tool id and request code as decimal texts, "requestData"."cmd" and
  // "requestData"."type"; empty (and 0) when the request did not load.
  std::wstring tool;
  std::wstring code;
  std::wstring cmd;
  int32_t type = 0;
  std::string webClientId;  // UTF-8

  bool loaded() const { return record.toolId != -1; }
  // Logs again what loading logged, as a second load would.
  void LogLoadAgain() const { logging::Replay(loadLog); }
};

// Loads text, keeping what the load logged; logs when it does not load.
Request ParseRequest(const std::string& text);
// The command texts of a record loaded already.
Request RequestOf(ToolsJsonFormatter record);

// A decimal number as the C runtime's _wtoi reads it: blanks, a sign, then
// digits; 0 when there are none. Saturates instead of wrapping.
int32_t DecimalOf(const std::wstring& text);

}  // namespace hk
