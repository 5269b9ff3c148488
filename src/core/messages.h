// Request and response messages: loading and validating a request, the two
// response families (formatter responses and legacy envelopes), the code
// numbering, text conversions and error texts.
//
// Every text handed out through a char** / wchar_t** is a zero-filled heap
// buffer from calloc: the receiver releases it with hk::FreeText (free).
#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>

struct ToolsJsonFormatter {
  double messageVersion = 1.0;
  int32_t toolId = -1;
  int32_t requestId = -1;
  int32_t requestCode = -1;
  Json::Value requestData;  // null
  std::wstring webClientId;

  ToolsJsonFormatter(int32_t requestId, int32_t toolId);

  // 0 and the response text through out, or 13 (out untouched).
  int GetNonPagedSuccessResponse(int responseCode, Json::Value responseData, char** out) const;
  int GetErrorResponse(int errorCode, const char* errorOutput, char** out) const;
};

// How the formatter tools (6, 7, 8, 10, 15) answer: a success response with
// successCode and data on a record of the tool's own (request id 0). When it
// cannot be built: the "dispatchCommandResponse: ..." line and the error
// response with errorCode and failureText. 1, or 0 after that failure.
int AnswerFormatted(int32_t toolId, int successCode, Json::Value data, int errorCode, const char* failureText,
                    char** out);

// Never fails outright: a text that does not load gives toolId -1. So does a
// request that is not an object, or whose toolId, requestId or requestCode is
// not a whole 32-bit number (1.0 counts), whose requestMessage is not an
// object or whose webClientId is not a string.
ToolsJsonFormatter LoadRequest(std::string text);

// 0 when valid, 13 when not (with a log line naming the value).
int ValidateRequest(Json::Value request);
int ValidateToolId(int32_t toolId);
int ValidateRequestId(int32_t requestId);
int ValidateResponseId(int32_t responseId);
int ValidateRequestCode(int32_t toolId, int32_t requestCode);
int ValidateResponseCode(int32_t toolId, int32_t responseCode);
int ValidateErrorCode(int32_t toolId, int32_t errorCode);
int ValidateErrorResponse(int32_t toolId, int32_t responseId, int32_t errorCode);
int ValidateNonPagedSuccessResponse(int32_t toolId, int32_t responseId, int32_t responseCode);

// Legacy envelopes: every leaf a JSON string. The paging argument has no
// effect. The first form sends through g_wsHandler: 1 once handed over,
// 0 when an error was caught.
int POST_JSON_success(const char* toolId, const char* responseCode, const char* data, int paging,
                      std::string webClientId = std::string());
// Builds the envelope with data as "data" and stores the text through out
// without sending it. Returns 0.
int POST_JSON_success(const char* toolId, const char* responseCode, Json::Value data, int paging, char** out,
                      std::string webClientId = std::string());
// Sends through g_wsHandler. Returns 0.
int POST_JSON_faliure(const char* toolId, const char* errorCode, const char* errorText,
                      std::string webClientId = std::string());

int ChangeStringToJson(std::string text, Json::Value& out);
int ChangeJsonToString(Json::Value value, char** out);

bool ChangeToWideStr(const char* utf8, wchar_t** out);
bool ChangeWideToUTF8Str(const wchar_t* wide, char** out);
bool ChangeAnsiToUTF8Str(const char* text, char** out);
int ConvertToWideCString(std::string in, std::wstring& out);
int ConvertToUTF8CString(std::wstring in, std::string& out);

// The system's message for code, UTF-8, in a heap buffer; a fixed text or
// "Unknown Error. Code : <code>" when the system has none.
char* GetSystemErrorText(uint32_t code);
namespace hk {
// The system's message for code in the user's default language, "" when it
// has none; oneLine: without the line breaks the message table carries.
std::wstring SystemMessage(uint32_t code, bool oneLine = false);
}  // namespace hk
std::string GetKnownErrorText(uint32_t code);

namespace hk {
void FreeText(void* text);
}
