#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/globals.h"
#include "core/messages.h"
#include "support/recording_socket.h"

namespace {

using Texts = std::vector<std::string>;

// Takes over a text the code under test allocated.
std::string Take(char* text) {
  std::string s = text ? text : "<null>";
  hk::FreeText(text);
  return s;
}

TEST(FormatterSuccess, PrinterAnswerCarriesItsOwnRecord) {
  const ToolsJsonFormatter printers(0, 7);
  char* out = nullptr;
  ASSERT_EQ(printers.GetNonPagedSuccessResponse(7304, Json::Value("no_printers_found"), &out), 0);
  EXPECT_EQ(Take(out),
            "{\"isPagedResponse\":\"false\",\"isSuccess\":\"true\",\"messageVersion\":1.0,\"responseCode\":7304,"
            "\"responseData\":\"no_printers_found\",\"responseId\":0,\"responseMessage\":null,\"toolId\":7}\n");
}

TEST(FormatterSuccess, UsesTheLoadedRequestButNeverItsWebClient) {
  const ToolsJsonFormatter r =
      LoadRequest(R"({"toolId":15,"requestId":9,"webClientId":"w","requestMessage":{"requestCode":15001}})");
  Json::Value data;
  data["APPS"] = Json::Value(Json::arrayValue);
  char* out = nullptr;
  ASSERT_EQ(r.GetNonPagedSuccessResponse(15301, data, &out), 0);
  EXPECT_EQ(Take(out),
            "{\"isPagedResponse\":\"false\",\"isSuccess\":\"true\",\"messageVersion\":1.0,\"responseCode\":15301,"
            "\"responseData\":{\"APPS\":[]},\"responseId\":9,\"responseMessage\":null,\"toolId\":15}\n");
}

TEST(FormatterSuccess, NullDataIsWrittenAsNull) {
  char* out = nullptr;
  ASSERT_EQ(ToolsJsonFormatter(0, 8).GetNonPagedSuccessResponse(8300, Json::Value(), &out), 0);
  EXPECT_NE(Take(out).find("\"responseData\":null,"), std::string::npos);
}

TEST(FormatterSuccess, InvalidCodeOrRecordBuildsNothing) {
  char sentinel = 0;
  char* out = &sentinel;
  EXPECT_EQ(ToolsJsonFormatter(0, 7).GetNonPagedSuccessResponse(8300, Json::Value(1), &out), 13);
  EXPECT_EQ(ToolsJsonFormatter(-1, -1).GetNonPagedSuccessResponse(300, Json::Value(1), &out), 13);
  EXPECT_EQ(ToolsJsonFormatter(-1, 7).GetNonPagedSuccessResponse(7300, Json::Value(1), &out), 13);
  EXPECT_EQ(out, &sentinel) << "the out pointer stays untouched";
}

TEST(FormatterError, ByteExact) {
  char* out = nullptr;
  ASSERT_EQ(ToolsJsonFormatter(0, 8).GetErrorResponse(8600, "Failed to get shares", &out), 0);
  EXPECT_EQ(Take(out),
            "{\"errorCode\":8600,\"errorOutput\":\"Failed to get shares\",\"isSuccess\":\"false\","
            "\"messageVersion\":1.0,\"responseId\":0,\"responseMessage\":null,\"toolId\":8}\n");
}

TEST(FormatterError, GroupsCodesAndCommonCodesPass) {
  char* out = nullptr;
  ASSERT_EQ(ToolsJsonFormatter(4, 6).GetErrorResponse(6603, "", &out), 0);
  EXPECT_EQ(Take(out),
            "{\"errorCode\":6603,\"errorOutput\":\"\",\"isSuccess\":\"false\",\"messageVersion\":1.0,"
            "\"responseId\":4,\"responseMessage\":null,\"toolId\":6}\n");
  ASSERT_EQ(ToolsJsonFormatter(0, 6).GetErrorResponse(13, "common", &out), 0);
  hk::FreeText(out);
}

TEST(FormatterError, InvalidCodeBuildsNothing) {
  char sentinel = 0;
  char* out = &sentinel;
  EXPECT_EQ(ToolsJsonFormatter(0, 7).GetErrorResponse(7300, "x", &out), 13);
  EXPECT_EQ(ToolsJsonFormatter(-2, 7).GetErrorResponse(7600, "x", &out), 13);
  EXPECT_EQ(out, &sentinel);
}

TEST(LegacySuccess, DataFormIsStoredNotSent) {
  hk::test::RecordingWsSession session;
  Json::Value rows(Json::arrayValue);
  rows.append(Json::Value(Json::objectValue));
  rows[0]["pid"] = "4";
  char* out = nullptr;
  EXPECT_EQ(POST_JSON_success("1", "1301", rows, 1, &out, "client-7"), 0);
  EXPECT_EQ(Take(out),
            "{\"isSuccess\":\"true\",\"messageVersion\":\"1\",\"responseId\":\"1\",\"responseMessage\":{"
            "\"isPagedResponse\":\"False\",\"responseCode\":\"1301\",\"responseData\":{\"data\":[{\"pid\":\"4\"}]}},"
            "\"toolId\":\"1\",\"webClientId\":\"client-7\"}\n");
  EXPECT_TRUE(session.texts().empty());
}

TEST(LegacySuccess, TextFormSendsExactlyOneFrame) {
  hk::test::RecordingWsSession session;
  EXPECT_EQ(POST_JSON_success("1", "1104", "Agent Terminated", 0), 1);
  EXPECT_EQ(session.texts(),
            Texts{"{\"isSuccess\":\"true\",\"messageVersion\":\"1\",\"responseId\":\"1\",\"responseMessage\":{"
                  "\"isPagedResponse\":\"False\",\"responseCode\":\"1104\",\"responseData\":{\"data\":"
                  "\"Agent Terminated\"}},\"toolId\":\"1\"}\n"});
  const std::vector<hk::test::RecordedFrame> frames = session.frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].flag);
}

TEST(LegacySuccess, PagingArgumentHasNoEffect) {
  hk::test::RecordingWsSession session;
  POST_JSON_success("2", "2306", "service started", 0, "w");
  POST_JSON_success("2", "2306", "service started", 1, "w");
  const Texts texts = session.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], texts[1]);
  EXPECT_NE(texts[0].find("\"isPagedResponse\":\"False\""), std::string::npos);
  EXPECT_NE(texts[0].find("\"webClientId\":\"w\"}\n"), std::string::npos);
}

TEST(LegacyFailure, SendsOneFrameWithVersionOnePointZero) {
  hk::test::RecordingWsSession session;
  EXPECT_EQ(POST_JSON_faliure("2", "2607", "Unable to Stop Survive", "wc"), 0);
  EXPECT_EQ(session.texts(),
            Texts{"{\"isSuccess\":\"false\",\"messageVersion\":\"1.0\",\"responseId\":\"2\",\"responseMessage\":{"
                  "\"errorCode\":\"2607\",\"errorOutput\":\"Unable to Stop Survive\"},\"toolId\":\"2\","
                  "\"webClientId\":\"wc\"}\n"});
}

TEST(LegacyFailure, NoWebClientMemberWhenEmpty) {
  hk::test::RecordingWsSession session;
  POST_JSON_faliure("3", "3106", "(User) Unable to get details");
  const Texts texts = session.texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].find("webClientId"), std::string::npos);
  EXPECT_TRUE(texts[0].ends_with("\"toolId\":\"3\"}\n"));
}

TEST(LegacyEnvelopes, NullTextsAreWrittenAsEmptyStrings) {
  hk::test::RecordingWsSession session;
  EXPECT_EQ(POST_JSON_success("1", nullptr, static_cast<const char*>(nullptr), 0), 1);
  EXPECT_EQ(POST_JSON_faliure(nullptr, "1605", nullptr), 0);
  const Texts texts = session.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0].find("\"responseCode\":\"\",\"responseData\":{\"data\":\"\"}"), std::string::npos);
  EXPECT_NE(texts[1].find("\"errorOutput\":\"\"},\"toolId\":\"\"}"), std::string::npos);
}

TEST(LegacyEnvelopes, NothingIsSentWithoutASocket) {
  hk::test::RecordingWsSession session;
  const AsyncWsHandler connected = g_wsHandler;
  g_wsHandler = AsyncWsHandler();
  EXPECT_EQ(POST_JSON_success("1", "1305", "Process terminated successfully", 0), 1);
  EXPECT_EQ(POST_JSON_faliure("1", "1605", "Failed to terminate process"), 0);
  g_wsHandler = connected;
  EXPECT_EQ(session.socket().frame_count(), 0u);
}

TEST(SendTextLPSTR, ReplacesInvalidUtf8AndKeepsValidText) {
  hk::test::RecordingWsSession session;
  EXPECT_EQ(g_wsHandler.SendTextLPSTR("ok \xC3\xA9 \xF0\x9F\x98\x80"), 10);
  g_wsHandler.SendTextLPSTR("bad \xFF end");
  g_wsHandler.SendTextLPSTR("cut \xE2\x82");
  EXPECT_EQ(session.texts(), (Texts{"ok \xC3\xA9 \xF0\x9F\x98\x80", "bad \xEF\xBF\xBD end", "cut \xEF\xBF\xBD"}));
}

}  // namespace
