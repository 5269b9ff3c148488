// The two response families, byte for byte, what goes out on the socket, and
// the lines the message functions log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/globals.h"
#include "core/messages.h"
#include "support/log_capture.h"
#include "support/recording_socket.h"
#include "support/wire_texts.h"

namespace {

using hk::test::Failure;
using hk::test::Success;
using hk::test::Take;
using Texts = std::vector<std::string>;

TEST(FormatterResponses, ByteExact) {
  hk::test::LogCapture log;
  char* out = nullptr;
  EXPECT_EQ(AnswerFormatted(7, 7304, Json::Value("no_printers_found"), 7600, "x", &out), 1);
  EXPECT_EQ(Take(out),
            "{\"isPagedResponse\":\"false\",\"isSuccess\":\"true\",\"messageVersion\":1.0,\"responseCode\":7304,"
            "\"responseData\":\"no_printers_found\",\"responseId\":0,\"responseMessage\":null,\"toolId\":7}\n");
  // A code outside the tool's thousand cannot succeed: the error response instead.
  EXPECT_EQ(AnswerFormatted(8, 7300, Json::Value(1), 8600, "Failed to get shares", &out), 0);
  EXPECT_EQ(Take(out),
            "{\"errorCode\":8600,\"errorOutput\":\"Failed to get shares\",\"isSuccess\":\"false\","
            "\"messageVersion\":1.0,\"responseId\":0,\"responseMessage\":null,\"toolId\":8}\n");
  EXPECT_TRUE(log.logged("dispatchCommandResponse: ToolsJsonFormatter::GetNonPagedSuccessResponse() method failed"))
      << log.text();

  // A loaded request answers with its own id, never with its web client.
  const ToolsJsonFormatter r =
      LoadRequest(R"({"toolId":15,"requestId":9,"webClientId":"w","requestMessage":{"requestCode":15001}})");
  ASSERT_EQ(r.GetNonPagedSuccessResponse(15301, Json::Value(), &out), 0);
  EXPECT_EQ(Take(out),
            "{\"isPagedResponse\":\"false\",\"isSuccess\":\"true\",\"messageVersion\":1.0,\"responseCode\":15301,"
            "\"responseData\":null,\"responseId\":9,\"responseMessage\":null,\"toolId\":15}\n");
  ASSERT_EQ(ToolsJsonFormatter(4, 6).GetErrorResponse(6603, nullptr, &out), 0);
  EXPECT_NE(Take(out).find("\"errorCode\":6603,\"errorOutput\":\"\""), std::string::npos);
  ASSERT_EQ(ToolsJsonFormatter(0, 6).GetErrorResponse(13, "common", &out), 0);
  hk::FreeText(out);
}

TEST(LegacyEnvelopes, ByteExact) {
  hk::test::RecordingWsSession session;
  Json::Value rows(Json::arrayValue);
  rows[0]["pid"] = "4";
  char* out = nullptr;
  EXPECT_EQ(POST_JSON_success("1", "1301", rows, 1, &out, "client-7"), 0);
  EXPECT_EQ(Take(out),
            "{\"isSuccess\":\"true\",\"messageVersion\":\"1\",\"responseId\":\"1\",\"responseMessage\":{"
            "\"isPagedResponse\":\"False\",\"responseCode\":\"1301\",\"responseData\":{\"data\":[{\"pid\":\"4\"}]}},"
            "\"toolId\":\"1\",\"webClientId\":\"client-7\"}\n");
  EXPECT_TRUE(session.texts().empty()) << "the data form is stored, not sent";

  EXPECT_EQ(POST_JSON_success("1", "1104", "Agent Terminated", 0), 1);
  EXPECT_EQ(POST_JSON_success("2", "2306", "service started", 1, "w"), 1);
  EXPECT_EQ(POST_JSON_faliure("2", "2607", "Unable to Stop Survive", "wc"), 0);
  POST_JSON_faliure("3", "3106", "(User) Unable to get details");
  POST_JSON_success("1", nullptr, static_cast<const char*>(nullptr), 0);
  POST_JSON_faliure(nullptr, "1605", nullptr);
  EXPECT_EQ(
      session.texts(),
      (Texts{Success("1", "1104", "Agent Terminated"), Success("2", "2306", "service started", "w"),
             Failure("2", "2607", "Unable to Stop Survive", "wc"), Failure("3", "3106", "(User) Unable to get details"),
             Success("1", "", ""), Failure("", "1605", "")}));
}

TEST(LegacyEnvelopes, NothingIsSentWithoutASocket) {
  hk::test::RecordingWsSession session;
  const AsyncWsHandler connected = g_wsHandler;
  g_wsHandler = AsyncWsHandler();
  EXPECT_EQ(POST_JSON_success("1", "1305", "Process terminated successfully", 0), 1);
  EXPECT_EQ(POST_JSON_faliure("1", "1605", "Failed to terminate process"), 0);
  g_wsHandler = connected;
  EXPECT_TRUE(session.texts().empty());
}

TEST(SendTextLPSTR, ReplacesInvalidUtf8AndKeepsValidText) {
  hk::test::RecordingWsSession session;
  EXPECT_EQ(g_wsHandler.SendTextLPSTR("ok \xC3\xA9 \xF0\x9F\x98\x80"), 10);
  g_wsHandler.SendTextLPSTR("bad \xFF end");
  g_wsHandler.SendTextLPSTR("cut \xE2\x82");
  EXPECT_EQ(session.texts(), (Texts{"ok \xC3\xA9 \xF0\x9F\x98\x80", "bad \xEF\xBF\xBD end", "cut \xEF\xBF\xBD"}));
}

// The failure lines are written at level 1, the lines of a request that loads
// only at level 2.
TEST(MessageLog, FailuresAtLevelOneTheRestAtTwo) {
  for (const int level : {1, 2}) {
    hk::test::LogCapture log(level);
    LoadRequest(R"({"toolId":7,"requestId":12,"requestMessage":{"requestCode":7000}})");
    LoadRequest("{\"toolId\":");
    LoadRequest(R"({"toolId":1,"requestId":-4})");
    LoadRequest(R"({"toolId":"1"})");
    char* out = nullptr;
    ToolsJsonFormatter(0, 7).GetNonPagedSuccessResponse(8300, Json::Value(1), &out);
    ToolsJsonFormatter(0, 7).GetErrorResponse(7300, "x", &out);
    ChangeJsonToString(Json::Value(), &out);
    hk::FreeText(GetSystemErrorText(12345));
    EXPECT_EQ(out, nullptr) << "a failed builder leaves the out pointer alone";
    for (const std::string line :
         {"ChangeStringToJson: Invalid Data\n", "ValidateRequestId: Incorrect requestId Received\t-4\n",
          "ValidateRequest:\tValidateRequestID Failed\n", "LoadRequest: ValidateRequest() failed\n",
          "ValidateRequest: toolId is not a 32-bit integer\n",
          "ValidateResponseCode: Incorrect responseCode Received 8300 \t7\n",
          "ToolsJsonFormatter::GetNonPagedSuccessResponse: ValidateNonPagedSuccessResponse() failed\n",
          "GetErrorResponse: Incorrect errorCode Received\t7300\n", "ChangeJsonToString:\tError - json is NULL\n",
          "Error Code : 12345 , Error Message : Unknown Error. Code : 12345 \n"})
      EXPECT_TRUE(log.contains("  " + line)) << level << ": " << line;
    for (const std::string line : {"ChangeStringToJson: Parsing Successful\n", "LoadRequest: Loaded toolId:7\n",
                                   "LoadRequest: Loaded RequestId:12\n", "LoadRequest: Loaded RequestCode:7000\n"})
      EXPECT_EQ(log.contains("  " + line), level == 2) << level << ": " << line;
  }
}

}  // namespace
