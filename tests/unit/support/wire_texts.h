// Requests as the server sends them and the legacy answers as the writer
// spells them.
#pragma once
#include <json/writer.h>

#include <string>

#include "core/messages.h"
#include "core/outcome.h"

namespace hk::test {

inline std::string Request(int tool, int code, const std::string& data = "{}", const std::string& extra = "") {
  return R"({"toolId":)" + std::to_string(tool) + R"(,"requestId":7,"requestMessage":{"requestCode":)" +
         std::to_string(code) + R"(,"requestData":)" + data + "}" + extra + "}";
}

inline std::string Quoted(const std::string& text) { return Json::valueToQuotedString(text.c_str()); }
inline std::string WebClient(const std::string& id) { return id.empty() ? "" : R"(,"webClientId":)" + Quoted(id); }

inline std::string Success(const std::string& tool, const std::string& code, const std::string& text,
                           const std::string& webClientId = "") {
  return R"({"isSuccess":"true","messageVersion":"1","responseId":")" + tool +
         R"(","responseMessage":{"isPagedResponse":"False","responseCode":")" + code + R"(","responseData":{"data":)" +
         Quoted(text) + R"(}},"toolId":")" + tool + "\"" + WebClient(webClientId) + "}\n";
}

inline std::string Failure(const std::string& tool, const std::string& code, const std::string& text,
                           const std::string& webClientId = "") {
  return R"({"isSuccess":"false","messageVersion":"1.0","responseId":")" + tool +
         R"(","responseMessage":{"errorCode":")" + code + R"(","errorOutput":)" + Quoted(text) + R"(},"toolId":")" +
         tool + "\"" + WebClient(webClientId) + "}\n";
}

// Takes over a text the code under test allocated.
inline std::string Take(char* text) {
  std::string s = text ? text : "<null>";
  hk::FreeText(text);
  return s;
}

// An answer text, or an outcome word (not the caller's to free).
inline std::string TakeOutcome(char* outcome) {
  return hk::IsOutcomeWord(outcome) ? (outcome ? outcome : "<null>") : Take(outcome);
}

}  // namespace hk::test
