#include <gtest/gtest.h>

#include <string>

#include "core/messages.h"

namespace {

void ExpectFailedLoad(const ToolsJsonFormatter& r, const std::string& why) {
  EXPECT_EQ(r.toolId, -1) << why;
  EXPECT_EQ(r.requestId, -1) << why;
  EXPECT_EQ(r.requestCode, -1) << why;
  EXPECT_TRUE(r.requestData.isNull()) << why;
  EXPECT_TRUE(r.webClientId.empty()) << why;
  EXPECT_EQ(r.messageVersion, 1.0) << why;
}

TEST(LoadRequest, ReadsEveryMember) {
  const ToolsJsonFormatter r =
      LoadRequest(R"({"toolId":8,"requestId":77,"webClientId":"wc-1","extra":[1],)"
                  R"("requestMessage":{"requestCode":8003,"requestData":{"cmd":"All_Shares","n":[1,2]}}})");
  EXPECT_EQ(r.toolId, 8);
  EXPECT_EQ(r.requestId, 77);
  EXPECT_EQ(r.requestCode, 8003);
  EXPECT_EQ(r.requestData["cmd"].asString(), "All_Shares");
  EXPECT_EQ(r.requestData["n"][1].asInt(), 2);
  EXPECT_EQ(r.webClientId, L"wc-1");
  EXPECT_EQ(r.messageVersion, 1.0);
}

TEST(LoadRequest, AcceptsCommentsInTheText) {
  const ToolsJsonFormatter r = LoadRequest("// from the server\n{\"toolId\":1, /* x */ \"requestId\":2}");
  EXPECT_EQ(r.toolId, 1);
  EXPECT_EQ(r.requestId, 2);
}

TEST(LoadRequest, MissingMembersReadAsZeroNullAndEmpty) {
  const ToolsJsonFormatter r = LoadRequest(R"({"requestId":5})");
  EXPECT_EQ(r.toolId, 0);  // the exit tool
  EXPECT_EQ(r.requestId, 5);
  EXPECT_EQ(r.requestCode, 0);
  EXPECT_TRUE(r.requestData.isNull());
  EXPECT_TRUE(r.webClientId.empty());

  const ToolsJsonFormatter empty = LoadRequest("{}");
  EXPECT_EQ(empty.toolId, 0);
  EXPECT_EQ(empty.requestId, 0);
}

TEST(LoadRequest, RequestDataOfAnyTypeIsCopiedUnchanged) {
  EXPECT_EQ(LoadRequest(R"({"toolId":7,"requestMessage":{"requestCode":7000,"requestData":"ALL_PRINTERS"}})")
                .requestData.asString(),
            "ALL_PRINTERS");
  EXPECT_TRUE(LoadRequest(R"({"toolId":7,"requestMessage":{"requestData":[1,2,3]}})").requestData.isArray());
}

TEST(LoadRequest, TextThatIsNotJsonFails) {
  for (const char* text : {"", "not json", "{\"toolId\":1", "{\"toolId\":,}", "\x01\x02"})
    ExpectFailedLoad(LoadRequest(text), text);
}

TEST(LoadRequest, TextAfterTheDocumentIsIgnoredAsTheReaderDoes) {
  EXPECT_EQ(LoadRequest("{\"toolId\":2} trailing").toolId, 2);
}

TEST(LoadRequest, InvalidValuesFail) {
  ExpectFailedLoad(LoadRequest(R"({"toolId":-1,"requestId":1})"), "negative tool");
  ExpectFailedLoad(LoadRequest(R"({"toolId":1,"requestId":-2})"), "negative request id");
  ExpectFailedLoad(LoadRequest(R"({"toolId":1,"requestMessage":{"requestCode":1300}})"), "success code as request");
}

TEST(LoadRequest, MembersOfTheWrongTypeFailWithoutThrowing) {
  const char* texts[] = {
      R"({"toolId":"1"})",
      R"({"toolId":true})",
      R"({"toolId":[1]})",
      R"({"requestId":"7"})",
      R"({"requestId":{}})",
      R"({"toolId":1,"requestMessage":{"requestCode":"1101"}})",
      R"({"toolId":1,"requestMessage":"1101"})",
      R"({"toolId":1,"requestMessage":[1101]})",
      R"({"toolId":1,"webClientId":5})",
      R"({"toolId":1,"webClientId":{"id":"x"}})",
      R"({"toolId":1,"requestMessage":{"requestCode":1005,"requestData":{"cmd":42}}})",
      R"({"toolId":2,"requestMessage":{"requestCode":2006,"requestData":{"cmd":["Spooler"]}}})",
      R"([1,2,3])",
      R"("text")",
      R"(17)",
      R"(null)",
  };
  for (const char* text : texts) ExpectFailedLoad(LoadRequest(text), text);
}

TEST(LoadRequest, NumbersLoadOnlyWhenTheyAreWhole32BitValues) {
  const ToolsJsonFormatter whole =
      LoadRequest(R"({"toolId":1.0,"requestId":2e3,"requestMessage":{"requestCode":1101.0}})");
  EXPECT_EQ(whole.toolId, 1);
  EXPECT_EQ(whole.requestId, 2000);
  EXPECT_EQ(whole.requestCode, 1101);
  EXPECT_EQ(LoadRequest(R"({"requestId":2147483647})").requestId, 2147483647);

  ExpectFailedLoad(LoadRequest(R"({"toolId":1.5})"), "fraction");
  ExpectFailedLoad(LoadRequest(R"({"requestId":2147483648})"), "just beyond 32 bits");
  ExpectFailedLoad(LoadRequest(R"({"requestId":18446744073709551615})"), "64-bit");
  ExpectFailedLoad(LoadRequest(R"({"requestId":1e300})"), "huge double");
}

TEST(LoadRequest, RecordsAreIndependentCopies) {
  const ToolsJsonFormatter a = LoadRequest(R"({"toolId":6,"requestMessage":{"requestData":{"k":"v"}}})");
  ToolsJsonFormatter b = a;
  b.requestData["k"] = "changed";
  b.webClientId = L"other";
  EXPECT_EQ(a.requestData["k"].asString(), "v");
  EXPECT_TRUE(a.webClientId.empty());
}

TEST(FormatterRecord, ConstructorSetsDefaults) {
  const ToolsJsonFormatter r(3, 10);
  EXPECT_EQ(r.requestId, 3);
  EXPECT_EQ(r.toolId, 10);
  EXPECT_EQ(r.requestCode, -1);
  EXPECT_TRUE(r.requestData.isNull());
  EXPECT_TRUE(r.webClientId.empty());
  EXPECT_EQ(r.messageVersion, 1.0);
}

TEST(ChangeStringToJson, ParsesOrReportsThirteen) {
  Json::Value v;
  EXPECT_EQ(ChangeStringToJson(R"({"a":[1,"b"]})", v), 0);
  EXPECT_EQ(v["a"][1].asString(), "b");
  EXPECT_EQ(ChangeStringToJson("{\"a\":", v), 13);
  EXPECT_EQ(ChangeStringToJson("}", v), 13);
}

TEST(ChangeStringToJson, NestingBeyondTheReadersLimitIsCaught) {
  const std::string deep = std::string(5000, '[') + std::string(5000, ']');
  Json::Value v;
  EXPECT_EQ(ChangeStringToJson(deep, v), 13);
  ExpectFailedLoad(LoadRequest(deep), "deep nesting");
}

TEST(ChangeJsonToString, NullFailsEmptyObjectIsBracesAndLineFeed) {
  char* out = nullptr;
  EXPECT_EQ(ChangeJsonToString(Json::Value(), &out), 13);
  EXPECT_EQ(out, nullptr);

  ASSERT_EQ(ChangeJsonToString(Json::Value(Json::objectValue), &out), 0);
  ASSERT_NE(out, nullptr);
  EXPECT_STREQ(out, "{}\n");
  EXPECT_EQ(out[4], '\0') << "the buffer is two bytes longer than the text";
  hk::FreeText(out);
}

TEST(ChangeJsonToString, CompactWithKeysInByteOrder) {
  Json::Value v;
  v["b"] = 1;
  v["B"] = "x";
  v["a"] = Json::Value(Json::arrayValue);
  v["a"].append(1.5);
  v["a"].append(Json::Value());
  char* out = nullptr;
  ASSERT_EQ(ChangeJsonToString(v, &out), 0);
  EXPECT_STREQ(out, "{\"B\":\"x\",\"a\":[1.5,null],\"b\":1}\n");
  hk::FreeText(out);
}

TEST(ChangeJsonToString, NonAsciiIsWrittenAsEscapes) {
  // The writer escapes everything beyond ASCII, so the wire text is ASCII.
  Json::Value v;
  v["name"] = "Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80";  // "Grüß 😀"
  char* out = nullptr;
  ASSERT_EQ(ChangeJsonToString(v, &out), 0);
  EXPECT_STREQ(out, "{\"name\":\"Gr\\u00fc\\u00df \\ud83d\\ude00\"}\n");
  hk::FreeText(out);
}

}  // namespace
