// The code numbering, loading a request, and JSON text in and out.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>

#include "core/messages.h"
#include "support/wire_texts.h"

namespace {

TEST(Validators, CodesAndIdsByTool) {
  // 0 accepted, 13 refused; the common codes 0 to 999 for every tool.
  for (const int code : {0, 950, 999, 1000, 1299, 1900, 1999}) EXPECT_EQ(ValidateRequestCode(1, code), 0) << code;
  for (const int code : {-5, 1300, 1899, 2000}) EXPECT_EQ(ValidateRequestCode(1, code), 13) << code;
  EXPECT_EQ(ValidateRequestCode(INT32_MAX, 999), 0);
  EXPECT_EQ(ValidateRequestCode(INT32_MAX, 1000), 13) << "no wrapped thousand";
  for (const int code : {999, 7000, 7300, 7999}) EXPECT_EQ(ValidateResponseCode(7, code), 0) << code;
  for (const int code : {-1, 6999, 8000}) EXPECT_EQ(ValidateResponseCode(7, code), 13) << code;
  for (const int code : {600, 7600, 7999}) EXPECT_EQ(ValidateErrorCode(7, code), 0) << code;
  for (const int code : {-1, 7599, 8000}) EXPECT_EQ(ValidateErrorCode(7, code), 13) << code;
  for (const auto validate : {&ValidateToolId, &ValidateRequestId, &ValidateResponseId})
    EXPECT_TRUE(validate(0) == 0 && validate(-1) == 13);
  EXPECT_EQ(ValidateNonPagedSuccessResponse(7, 0, 7304), 0);
  EXPECT_EQ(ValidateErrorResponse(8, 3, 8600), 0);
  // A bad tool id, response id or code each fails the whole check.
  const int bad[][3] = {{-1, 0, 300}, {7, -1, 7304}, {7, 0, 8304}};
  for (const auto& b : bad) {
    EXPECT_EQ(ValidateNonPagedSuccessResponse(b[0], b[1], b[2]), 13) << b[0] << " " << b[1] << " " << b[2];
    EXPECT_EQ(ValidateErrorResponse(b[0], b[1], b[2] + 300), 13) << b[0] << " " << b[1] << " " << b[2] + 300;
  }
}

TEST(LoadRequest, LoadsWhatTheReaderTakes) {
  struct Case {
    const char* text;
    int toolId, requestId, requestCode;
  };
  const Case cases[] = {
      {R"({"toolId":8,"requestId":77,"webClientId":"wc-\u00e9","extra":[1],)"
       R"("requestMessage":{"requestCode":8003,"requestData":{"cmd":"All_Shares","n":[1,2]}}})",
       8, 77, 8003},
      {"// from the server\n{\"toolId\":1, /* x */ \"requestId\":2}", 1, 2, 0},
      {R"({"requestId":5})", 0, 5, 0},  // a missing tool id is the exit tool
      {"{}", 0, 0, 0},
      {"{\"toolId\":2} trailing", 2, 0, 0},
      {R"({"toolId":1.0,"requestId":2e3,"requestMessage":{"requestCode":1101.0}})", 1, 2000, 1101},
      {R"({"requestId":2147483647})", 0, INT32_MAX, 0},
      {R"({"toolId":7,"requestMessage":{"requestCode":7000,"requestData":[1,2,3]}})", 7, 0, 7000},
  };
  for (const Case& c : cases) {
    const ToolsJsonFormatter r = LoadRequest(c.text);
    EXPECT_EQ(std::tuple(r.toolId, r.requestId, r.requestCode), std::tuple(c.toolId, c.requestId, c.requestCode))
        << c.text;
  }
  const ToolsJsonFormatter r = LoadRequest(cases[0].text);
  EXPECT_EQ(r.requestData["cmd"].asString(), "All_Shares");
  EXPECT_EQ(r.requestData["n"][1].asInt(), 2);
  EXPECT_EQ(r.webClientId, L"wc-\u00e9");
  EXPECT_EQ(LoadRequest(R"({"toolId":7,"requestMessage":{"requestData":"ALL_PRINTERS"}})").requestData, "ALL_PRINTERS");
}

TEST(LoadRequest, WhatCannotBeReadGivesTheFailedRecord) {
  const std::string deep = std::string(5000, '[') + std::string(5000, ']');
  const std::string texts[] = {
      "",
      "not json",
      "{\"toolId\":1",
      "\x01\x02",
      deep,
      R"({"toolId":-1,"requestId":1})",
      R"({"toolId":1,"requestId":-2})",
      R"({"toolId":1,"requestMessage":{"requestCode":1300}})",
      R"({"toolId":"1"})",
      R"({"toolId":true})",
      R"({"requestId":"7"})",
      R"({"toolId":1,"requestMessage":{"requestCode":"1101"}})",
      R"({"toolId":1,"requestMessage":"1101"})",
      R"({"toolId":1,"webClientId":5})",
      R"({"toolId":1,"requestMessage":{"requestCode":1005,"requestData":{"cmd":42}}})",
      R"({"toolId":2,"requestMessage":{"requestCode":2006,"requestData":{"cmd":["Spooler"]}}})",
      R"([1,2,3])",
      R"(17)",
      R"({"toolId":1.5})",
      R"({"requestId":2147483648})",
      R"({"requestId":1e300})"};
  for (const std::string& text : texts) {
    const ToolsJsonFormatter r = LoadRequest(text);
    EXPECT_TRUE(r.toolId == -1 && r.requestId == -1 && r.requestCode == -1 && r.requestData.isNull() &&
                r.webClientId.empty())
        << text.substr(0, 80);
  }
}

TEST(JsonText, ParsesOrReportsThirteen) {
  Json::Value v;
  EXPECT_EQ(ChangeStringToJson(R"({"a":[1,"b"]})", v), 0);
  EXPECT_EQ(v["a"][1].asString(), "b");
  EXPECT_EQ(ChangeStringToJson("}", v), 13);
}

TEST(JsonText, CompactKeysInByteOrderAsciiOnlyTwoSpareBytes) {
  char* out = nullptr;
  EXPECT_EQ(ChangeJsonToString(Json::Value(), &out), 13);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(ChangeJsonToString(Json::Value(Json::objectValue), &out), 0);
  EXPECT_EQ(hk::test::Take(out), "{}\n");

  Json::Value v;
  v["b"] = 1;
  v["B"] = "Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80";  // "Grüß 😀": the writer escapes all beyond ASCII
  v["a"].append(1.5);
  v["a"].append(Json::Value());
  ASSERT_EQ(ChangeJsonToString(v, &out), 0);
  const std::string expected = "{\"B\":\"Gr\\u00fc\\u00df \\ud83d\\ude00\",\"a\":[1.5,null],\"b\":1}\n";
  EXPECT_EQ(out, expected);
  EXPECT_EQ(out[expected.size() + 1], '\0') << "the buffer is two bytes longer than the text";
  hk::FreeText(out);
}

}  // namespace
