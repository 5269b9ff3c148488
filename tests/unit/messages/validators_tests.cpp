#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "core/messages.h"

namespace {

struct CodeCase {
  int32_t toolId;
  int32_t code;
  int expected;  // 0 accepted, 13 refused
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << "tool " << c.toolId << " code " << c.code; }

class RequestCodes : public ::testing::TestWithParam<CodeCase> {};
TEST_P(RequestCodes, AcceptsCommonAndRequestRangesOnly) {
  EXPECT_EQ(ValidateRequestCode(GetParam().toolId, GetParam().code), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Edges, RequestCodes,
                         ::testing::Values(CodeCase{1, 1101, 0}, CodeCase{1, 1300, 13}, CodeCase{1, 950, 0},
                                           CodeCase{7, 950, 0}, CodeCase{0, 0, 0}, CodeCase{0, 999, 0},
                                           CodeCase{1, -5, 13}, CodeCase{0, -5, 13}, CodeCase{15, -5, 13},
                                           CodeCase{1, 1000, 0}, CodeCase{1, 1299, 0}, CodeCase{1, 1300, 13},
                                           CodeCase{1, 1899, 13}, CodeCase{1, 1900, 0}, CodeCase{1, 1999, 0},
                                           CodeCase{1, 2000, 13}, CodeCase{2, 1101, 13}, CodeCase{15, 15000, 0},
                                           CodeCase{15, 15600, 13}, CodeCase{INT32_MAX, 999, 0},
                                           CodeCase{INT32_MAX, 1000, 13}));

class ResponseCodes : public ::testing::TestWithParam<CodeCase> {};
TEST_P(ResponseCodes, AcceptsCommonAndTheWholeThousand) {
  EXPECT_EQ(ValidateResponseCode(GetParam().toolId, GetParam().code), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Edges, ResponseCodes,
                         ::testing::Values(CodeCase{7, 7300, 0}, CodeCase{7, 8300, 13}, CodeCase{7, 7000, 0},
                                           CodeCase{7, 7999, 0}, CodeCase{7, 6999, 13}, CodeCase{7, 8000, 13},
                                           CodeCase{7, 0, 0}, CodeCase{7, 999, 0}, CodeCase{7, -1, 13},
                                           CodeCase{0, 500, 0}, CodeCase{0, 1000, 13}));

class ErrorCodes : public ::testing::TestWithParam<CodeCase> {};
TEST_P(ErrorCodes, AcceptsCommonAndTheErrorBlock) {
  EXPECT_EQ(ValidateErrorCode(GetParam().toolId, GetParam().code), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Edges, ErrorCodes,
                         ::testing::Values(CodeCase{7, 7600, 0}, CodeCase{7, 7300, 13}, CodeCase{7, 7599, 13},
                                           CodeCase{7, 7999, 0}, CodeCase{7, 8000, 13}, CodeCase{7, 999, 0},
                                           CodeCase{7, 0, 0}, CodeCase{7, -1, 13}, CodeCase{6, 6603, 0},
                                           CodeCase{10, 10600, 0}, CodeCase{10, 600, 0}));

TEST(IdValidators, AcceptZeroAndUpRefuseNegatives) {
  for (auto validate : {&ValidateToolId, &ValidateRequestId, &ValidateResponseId}) {
    EXPECT_EQ(validate(0), 0);
    EXPECT_EQ(validate(INT32_MAX), 0);
    EXPECT_EQ(validate(-1), 13);
    EXPECT_EQ(validate(INT32_MIN), 13);
  }
}

TEST(CombinedValidators, StopAtTheFirstFailingPart) {
  EXPECT_EQ(ValidateNonPagedSuccessResponse(7, 0, 7304), 0);
  EXPECT_EQ(ValidateNonPagedSuccessResponse(-1, 0, 300), 13);
  EXPECT_EQ(ValidateNonPagedSuccessResponse(7, -1, 7304), 13);
  EXPECT_EQ(ValidateNonPagedSuccessResponse(7, 0, 8304), 13);

  EXPECT_EQ(ValidateErrorResponse(8, 3, 8600), 0);
  EXPECT_EQ(ValidateErrorResponse(-8, 3, 600), 13);
  EXPECT_EQ(ValidateErrorResponse(8, -3, 8600), 13);
  EXPECT_EQ(ValidateErrorResponse(8, 3, 8300), 13);
}

TEST(ValidateRequest, ChecksToolIdRequestIdAndRequestCode) {
  Json::Value request;
  request["toolId"] = 1;
  request["requestId"] = 42;
  request["requestMessage"]["requestCode"] = 1101;
  EXPECT_EQ(ValidateRequest(request), 0);

  Json::Value bad = request;
  bad["toolId"] = -1;
  EXPECT_EQ(ValidateRequest(bad), 13);
  bad = request;
  bad["requestId"] = -7;
  EXPECT_EQ(ValidateRequest(bad), 13);
  bad = request;
  bad["requestMessage"]["requestCode"] = 1300;
  EXPECT_EQ(ValidateRequest(bad), 13);
}

TEST(ValidateRequest, MissingMembersReadAsZero) { EXPECT_EQ(ValidateRequest(Json::Value(Json::objectValue)), 0); }

TEST(ValidateRequest, RefusesMembersOfTheWrongTypeWithoutThrowing) {
  const char* members[] = {"toolId", "requestId"};
  for (const char* member : members) {
    for (const Json::Value& wrong : {Json::Value("1"), Json::Value(true), Json::Value(1.5),
                                     Json::Value(Json::arrayValue), Json::Value(Json::objectValue)}) {
      Json::Value request(Json::objectValue);
      request[member] = wrong;
      EXPECT_EQ(ValidateRequest(request), 13) << member << " = " << wrong.toStyledString();
    }
  }
  Json::Value request(Json::objectValue);
  request["requestMessage"] = "1101";
  EXPECT_EQ(ValidateRequest(request), 13);
  request["requestMessage"] = Json::Value(Json::objectValue);
  request["requestMessage"]["requestCode"] = "1101";
  EXPECT_EQ(ValidateRequest(request), 13);
  EXPECT_EQ(ValidateRequest(Json::Value(Json::arrayValue)), 13);
  EXPECT_EQ(ValidateRequest(Json::Value(5)), 13);
}

}  // namespace
