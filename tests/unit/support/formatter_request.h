// A request through a tool's dispatcher, with the checks every answer passes.
#pragma once
#include <gtest/gtest.h>
#include <json/json.h>

#include <string>

#include "core/messages.h"
#include "wmi/wmi_test_support.h"

namespace hk::test {

inline Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
  return value;
}

using Dispatcher = int (*)(int, Json::Value*, Json::Value*, char**);

// The answer built (null: none), on a COM thread of its own. The dispatcher
// returns 1 for an answer and silentResult without one; an answer names the
// tool (the code's thousands) and carries what was left in responseData;
// COM is left as it was found.
inline Json::Value AskTool(Dispatcher dispatch, int code, Json::Value request, Json::Value responseData = {},
                           int silentResult = 1) {
  char* text = nullptr;
  int result = -1;
  const ComBalance com = RunOnComThread([&] { result = dispatch(code, &request, &responseData, &text); });
  EXPECT_TRUE(com.outer_kept && com.nothing_left) << code;
  const Json::Value answer = text ? Parse(text) : Json::Value();
  EXPECT_EQ(result, text ? 1 : silentResult) << code;
  hk::FreeText(text);
  if (!answer.isNull()) {
    EXPECT_EQ(answer["toolId"], code / 1000) << code;
    EXPECT_EQ(answer["responseData"], responseData) << code;
  }
  return answer;
}

// The data of a request's answer (null: no answer), which carries code + 300.
inline Json::Value AskData(Dispatcher dispatch, int code, const std::string& request) {
  const Json::Value answer = AskTool(dispatch, code, Parse(request));
  EXPECT_TRUE(answer.isNull() || answer["responseCode"] == code + 300) << answer;
  return answer.get("responseData", Json::Value());
}

}  // namespace hk::test
