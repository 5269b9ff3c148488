#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "core/messages.h"
#include "infra/log.h"
#include "support/log_capture.h"
#include "support/recording_socket.h"

namespace {

// A log in a scratch folder; each test sets its own level.
class MessageLog : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.emplace(std::nullopt);
    ASSERT_TRUE(log_->ready());
  }
  void TearDown() override { log_.reset(); }
  std::string Log() const { return log_->text(); }
  // Whether this follows two blanks somewhere in the log: the start of an entry will do.
  bool Logged(const std::string& part) const { return log_->contains("  " + part); }

  std::optional<hk::test::LogCapture> log_;
};

TEST_F(MessageLog, LoadedRequestIsLoggedWithItsValues) {
  SetLogLevel(2);
  LoadRequest(R"({"toolId":7,"requestId":12,"requestMessage":{"requestCode":7000,"requestData":{}}})");
  const std::string log = Log();
  EXPECT_NE(log.find("ChangeStringToJson: Parsing Successful\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  LoadRequest: Loaded toolId:7\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  LoadRequest: Loaded RequestId:12\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  LoadRequest: Loaded RequestCode:7000\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  LoadRequest: Loaded Request Data\n"), std::string::npos) << log;
}

TEST_F(MessageLog, FailuresAreWrittenAtLevelOne) {
  SetLogLevel(1);
  LoadRequest("{\"toolId\":");
  LoadRequest(R"({"toolId":1,"requestId":-4})");
  LoadRequest(R"({"toolId":1,"requestMessage":{"requestCode":1300}})");
  LoadRequest(R"({"toolId":2,"requestId":1})");  // valid: its lines are level 2
  EXPECT_TRUE(Logged("ChangeStringToJson: Invalid Data\n"));
  EXPECT_TRUE(Logged("LoadRequest: ChangeStringToJson() failed\n"));
  EXPECT_TRUE(Logged("ValidateRequestId: Incorrect requestId Received\t-4\n"));
  EXPECT_TRUE(Logged("ValidateRequest:\tValidateRequestID Failed\n"));
  EXPECT_TRUE(Logged("ValidateRequestCode: Incorrect requestCode Received\t1300\n"));
  EXPECT_TRUE(Logged("ValidateRequest: ValidateRequestCode Failed\n"));
  EXPECT_TRUE(Logged("LoadRequest: ValidateRequest() failed\n"));
  EXPECT_FALSE(Logged("LoadRequest: Loaded")) << Log();
  EXPECT_FALSE(Logged("Parsing Successful")) << Log();
}

TEST_F(MessageLog, WrongTypesAreNamed) {
  SetLogLevel(1);
  LoadRequest(R"({"toolId":"1"})");
  LoadRequest(R"({"toolId":1,"webClientId":7})");
  EXPECT_TRUE(Logged("ValidateRequest: toolId is not a 32-bit integer\n")) << Log();
  EXPECT_TRUE(Logged("LoadRequest: webClientId is not a string\n")) << Log();
}

TEST_F(MessageLog, BuilderFailures) {
  SetLogLevel(1);
  char* out = nullptr;
  ToolsJsonFormatter(0, 7).GetNonPagedSuccessResponse(8300, Json::Value(1), &out);
  ToolsJsonFormatter(0, 7).GetErrorResponse(7300, "x", &out);
  ChangeJsonToString(Json::Value(), &out);
  EXPECT_TRUE(Logged("ValidateResponseCode: Incorrect responseCode Received 8300 \t7\n")) << Log();
  EXPECT_TRUE(Logged("ValidateNonPagedSuccessResponse:\tValidateResponseCode Failed\n"));
  EXPECT_TRUE(Logged("ToolsJsonFormatter::GetNonPagedSuccessResponse: ValidateNonPagedSuccessResponse() failed\n"));
  EXPECT_TRUE(Logged("GetErrorResponse: Incorrect errorCode Received\t7300\n"));
  EXPECT_TRUE(Logged("ValidateErrorResponse:\tValidateErrorCode Failed\n"));
  EXPECT_TRUE(Logged("ToolsJsonFormatter::GetErrorResponse: ValidateErrorResponse() failed\n"));
  EXPECT_TRUE(Logged("ChangeJsonToString:\tError - json is NULL\n"));
  EXPECT_EQ(out, nullptr);
}

TEST_F(MessageLog, SystemErrorTextIsLoggedAtLevelOne) {
  SetLogLevel(1);
  hk::FreeText(GetSystemErrorText(12345));
  hk::FreeText(GetSystemErrorText(0));
  EXPECT_TRUE(Logged("Error Code : 12345 , Error Message : Unknown Error. Code : 12345 \n")) << Log();
  EXPECT_TRUE(Logged("Message : ")) << Log();
}

TEST_F(MessageLog, DataFormLogsTheLengthOfItsText) {
  SetLogLevel(2);
  char* out = nullptr;
  POST_JSON_success("3", "3301", Json::Value(Json::arrayValue), 1, &out);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(Logged("data length = " + std::to_string(std::strlen(out)))) << Log();
  hk::FreeText(out);
}

TEST_F(MessageLog, NullConversionInputsAreRefusedWithALine) {
  SetLogLevel(2);
  wchar_t* wide = nullptr;
  char* narrow = nullptr;
  EXPECT_FALSE(ChangeToWideStr(nullptr, &wide));
  EXPECT_FALSE(ChangeAnsiToUTF8Str(nullptr, &narrow));
  EXPECT_TRUE(Logged("ChangeToWideStr: AnsiString is empty! \n"));
  EXPECT_TRUE(Logged("ChangeAnsiToUTF8Str: ansiString is empty! \n"));
}

}  // namespace
