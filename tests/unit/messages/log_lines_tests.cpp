// The lines the message functions write, at the level they are written at.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/messages.h"
#include "infra/log.h"
#include "support/log_capture.h"

namespace {

struct Case {
  const char* name;
  int level;
  std::function<void()> action;
  std::vector<std::string> lines;  // each follows two blanks somewhere in the log
  std::vector<std::string> absent;
};

TEST(MessageLog, LinesAtTheirLevel) {
  char* out = nullptr;
  const Case cases[] = {
      {"a loaded request, level 2",
       2,
       [] { LoadRequest(R"({"toolId":7,"requestId":12,"requestMessage":{"requestCode":7000,"requestData":{}}})"); },
       {"ChangeStringToJson: Parsing Successful\n", "LoadRequest: Loaded toolId:7\n",
        "LoadRequest: Loaded RequestId:12\n", "LoadRequest: Loaded RequestCode:7000\n",
        "LoadRequest: Loaded Request Data\n"},
       {}},
      {"failed loads, level 1",
       1,
       [] {
         LoadRequest("{\"toolId\":");
         LoadRequest(R"({"toolId":1,"requestId":-4})");
         LoadRequest(R"({"toolId":1,"requestMessage":{"requestCode":1300}})");
         LoadRequest(R"({"toolId":"1"})");
         LoadRequest(R"({"toolId":1,"webClientId":7})");
         LoadRequest(R"({"toolId":2,"requestId":1})");  // valid: its lines are level 2
       },
       {"ChangeStringToJson: Invalid Data\n", "LoadRequest: ChangeStringToJson() failed\n",
        "ValidateRequestId: Incorrect requestId Received\t-4\n", "ValidateRequest:\tValidateRequestID Failed\n",
        "ValidateRequestCode: Incorrect requestCode Received\t1300\n", "ValidateRequest: ValidateRequestCode Failed\n",
        "LoadRequest: ValidateRequest() failed\n", "ValidateRequest: toolId is not a 32-bit integer\n",
        "LoadRequest: webClientId is not a string\n"},
       {"LoadRequest: Loaded", "Parsing Successful"}},
      {"failed builders, level 1",
       1,
       [&out] {
         ToolsJsonFormatter(0, 7).GetNonPagedSuccessResponse(8300, Json::Value(1), &out);
         ToolsJsonFormatter(0, 7).GetErrorResponse(7300, "x", &out);
         ChangeJsonToString(Json::Value(), &out);
       },
       {"ValidateResponseCode: Incorrect responseCode Received 8300 \t7\n",
        "ValidateNonPagedSuccessResponse:\tValidateResponseCode Failed\n",
        "ToolsJsonFormatter::GetNonPagedSuccessResponse: ValidateNonPagedSuccessResponse() failed\n",
        "GetErrorResponse: Incorrect errorCode Received\t7300\n", "ValidateErrorResponse:\tValidateErrorCode Failed\n",
        "ToolsJsonFormatter::GetErrorResponse: ValidateErrorResponse() failed\n",
        "ChangeJsonToString:\tError - json is NULL\n"},
       {}},
      {"system error texts, level 1",
       1,
       [] {
         hk::FreeText(GetSystemErrorText(12345));
         hk::FreeText(GetSystemErrorText(0));
       },
       {"Error Code : 12345 , Error Message : Unknown Error. Code : 12345 \n", "Message : "},
       {}},
  };
  for (const Case& c : cases) {
    hk::test::LogCapture log(c.level);
    c.action();
    for (const std::string& line : c.lines) EXPECT_TRUE(log.contains("  " + line)) << c.name << ": " << line;
    for (const std::string& line : c.absent) EXPECT_FALSE(log.contains("  " + line)) << c.name << ": " << line;
  }
  EXPECT_EQ(out, nullptr) << "failed builders leave the out pointer alone";
}

}  // namespace
