#include "core/messages.h"

#include <windows.h>

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/globals.h"
#include "core/outcome.h"
#include "core/text.h"
#include "infra/log.h"
#include "infra/win_resource.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 13;
constexpr size_t kErrorTextSize = 4096;

// The products t*1000 are 32-bit signed, as the server computes them; the
// wrap of absurd tool ids must not be undefined behaviour here.
int32_t thousand_of(int32_t toolId) { return static_cast<int32_t>(static_cast<uint32_t>(toolId) * 1000u); }

bool in_range(int64_t value, int64_t low, int64_t high) { return value >= low && value <= high; }

// jsoncpp throws when a member of another type is read as a number, so the
// type is checked first. Missing members read as 0; integral doubles that
// fit (1.0, 2e3) load; fractions, booleans, texts and numbers beyond 32 bits
// do not.
bool read_int(const Json::Value& object, const char* key, int32_t& out) {
  const Json::Value& member = object[key];
  if (member.isNull()) {
    out = 0;
    return true;
  }
  if (!member.isInt()) return false;
  out = member.asInt();
  return true;
}

// The members of "requestMessage" are only reachable through an object.
bool request_message(const Json::Value& request, const Json::Value*& out) {
  const Json::Value& message = request["requestMessage"];
  if (!message.isNull() && !message.isObject()) return false;
  out = &message;
  return true;
}

// The fields of a request as they are read, or false with a logged reason
// when a member has a type that cannot be read.
struct RequestFields {
  int32_t toolId = 0;
  int32_t requestId = 0;
  int32_t requestCode = 0;
};

bool read_request_fields(const Json::Value& request, RequestFields& fields, const wchar_t* origin) {
  if (!request.isObject()) {
    WriteLogLevel1(L"%s: Request is not a JSON object\n", origin);
    return false;
  }
  if (!read_int(request, "toolId", fields.toolId)) {
    WriteLogLevel1(L"%s: toolId is not a 32-bit integer\n", origin);
    return false;
  }
  if (!read_int(request, "requestId", fields.requestId)) {
    WriteLogLevel1(L"%s: requestId is not a 32-bit integer\n", origin);
    return false;
  }
  const Json::Value* message = nullptr;
  if (!request_message(request, message)) {
    WriteLogLevel1(L"%s: requestMessage is not an object\n", origin);
    return false;
  }
  if (!read_int(*message, "requestCode", fields.requestCode)) {
    WriteLogLevel1(L"%s: requestCode is not a 32-bit integer\n", origin);
    return false;
  }
  return true;
}

const char* or_empty(const char* text) { return text ? text : ""; }

char* calloc_text(size_t bytes) { return static_cast<char*>(std::calloc(bytes, 1)); }

// The envelope as a heap text, or null when it could not be written.
char* envelope_text(const Json::Value& envelope) {
  char* text = nullptr;
  if (ChangeJsonToString(envelope, &text) != kOk) return nullptr;
  return text;
}

Json::Value legacy_envelope(const char* messageVersion, const char* toolId, const std::string& webClientId,
                            const char* isSuccess) {
  Json::Value envelope(Json::objectValue);
  envelope["messageVersion"] = messageVersion;
  envelope["toolId"] = or_empty(toolId);
  if (!webClientId.empty()) envelope["webClientId"] = webClientId;
  envelope["responseId"] = or_empty(toolId);
  envelope["isSuccess"] = isSuccess;
  return envelope;
}

Json::Value legacy_success(const char* toolId, const char* responseCode, Json::Value data,
                           const std::string& webClientId) {
  Json::Value envelope = legacy_envelope("1", toolId, webClientId, "true");
  Json::Value& message = envelope["responseMessage"];
  message["responseCode"] = or_empty(responseCode);
  message["isPagedResponse"] = "False";
  message["responseData"]["data"] = std::move(data);
  return envelope;
}

}  // namespace

namespace hk {
void FreeText(void* text) { std::free(text); }
}  // namespace hk

// ---------------------------------------------------------------------------
// Validators

int ValidateToolId(int32_t toolId) {
  if (toolId >= 0) return kOk;
  WriteLogLevel1(L"ValidateToolId: Incorrect ToolId Received\t%d\n", toolId);
  return kFailed;
}

int ValidateRequestId(int32_t requestId) {
  if (requestId >= 0) return kOk;
  WriteLogLevel1(L"ValidateRequestId: Incorrect requestId Received\t%d\n", requestId);
  return kFailed;
}

int ValidateResponseId(int32_t responseId) {
  if (responseId >= 0) return kOk;
  WriteLogLevel1(L"ValidateResponseId: Incorrect responseId Received\t%d\n", responseId);
  return kFailed;
}

int ValidateRequestCode(int32_t toolId, int32_t requestCode) {
  const int64_t base = thousand_of(toolId);
  if (in_range(requestCode, 0, 999) || in_range(requestCode, base, base + 299) ||
      in_range(requestCode, base + 900, base + 999))
    return kOk;
  WriteLogLevel1(L"ValidateRequestCode: Incorrect requestCode Received\t%d\n", requestCode);
  return kFailed;
}

int ValidateResponseCode(int32_t toolId, int32_t responseCode) {
  const int64_t base = thousand_of(toolId);
  if (in_range(responseCode, 0, 999) || in_range(responseCode, base, base + 999)) return kOk;
  WriteLogLevel1(L"ValidateResponseCode: Incorrect responseCode Received %d \t%d\n", responseCode, toolId);
  return kFailed;
}

int ValidateErrorCode(int32_t toolId, int32_t errorCode) {
  const int64_t base = thousand_of(toolId);
  if (in_range(errorCode, 0, 999) || in_range(errorCode, base + 600, base + 999)) return kOk;
  WriteLogLevel1(L"GetErrorResponse: Incorrect errorCode Received\t%d\n", errorCode);
  return kFailed;
}

namespace {

// The response validators run the same three checks; only the last one and
// the log lines differ.
struct ResponseChecks {
  int (*code)(int32_t toolId, int32_t code);
  const wchar_t* toolFailed;
  const wchar_t* responseIdFailed;
  const wchar_t* codeFailed;
};

int validate_response(const ResponseChecks& checks, int32_t toolId, int32_t responseId, int32_t code) {
  const wchar_t* failed = nullptr;
  if (ValidateToolId(toolId) != kOk) failed = checks.toolFailed;
  else if (ValidateResponseId(responseId) != kOk) failed = checks.responseIdFailed;
  else if (checks.code(toolId, code) != kOk) failed = checks.codeFailed;
  if (!failed) return kOk;
  WriteLogLevel1(failed);
  return kFailed;
}

}  // namespace

int ValidateErrorResponse(int32_t toolId, int32_t responseId, int32_t errorCode) {
  static const ResponseChecks kChecks = {&ValidateErrorCode, L"ValidateErrorResponse: ValidateToolId Failed\n",
                                         L"ValidateErrorResponse:\tValidateResponseId Failed\n",
                                         L"ValidateErrorResponse:\tValidateErrorCode Failed\n"};
  return validate_response(kChecks, toolId, responseId, errorCode);
}

int ValidateNonPagedSuccessResponse(int32_t toolId, int32_t responseId, int32_t responseCode) {
  static const ResponseChecks kChecks = {&ValidateResponseCode,
                                         L"ValidateNonPagedSuccessResponse: ValidateToolId Failed\n",
                                         L"ValidateNonPagedSuccessResponse:\tValidateResponseId Failed\n",
                                         L"ValidateNonPagedSuccessResponse:\tValidateResponseCode Failed\n"};
  return validate_response(kChecks, toolId, responseId, responseCode);
}

int ValidateRequest(Json::Value request) {
  RequestFields fields;
  try {
    if (!read_request_fields(request, fields, L"ValidateRequest")) return kFailed;
  } catch (...) {
    WriteLogLevel1(L"ValidateRequest: Exception Occurred\n");
    return kFailed;
  }
  if (ValidateToolId(fields.toolId) != kOk) {
    WriteLogLevel1(L"ValidateRequest: ValidateToolId Failed\n");
    return kFailed;
  }
  if (ValidateRequestId(fields.requestId) != kOk) {
    WriteLogLevel1(L"ValidateRequest:\tValidateRequestID Failed\n");
    return kFailed;
  }
  if (ValidateRequestCode(fields.toolId, fields.requestCode) != kOk) {
    WriteLogLevel1(L"ValidateRequest: ValidateRequestCode Failed\n");
    return kFailed;
  }
  return kOk;
}

// ---------------------------------------------------------------------------
// The request record and the formatter responses

ToolsJsonFormatter::ToolsJsonFormatter(int32_t requestId, int32_t toolId) : toolId(toolId), requestId(requestId) {}

ToolsJsonFormatter LoadRequest(std::string text) {
  Json::Value request;
  if (ChangeStringToJson(std::move(text), request) != kOk) {
    WriteLogLevel1(L"LoadRequest: ChangeStringToJson() failed\n");
    return ToolsJsonFormatter(-1, -1);
  }
  if (ValidateRequest(request) != kOk) {
    WriteLogLevel1(L"LoadRequest: ValidateRequest() failed\n");
    return ToolsJsonFormatter(-1, -1);
  }
  try {
    RequestFields fields;
    if (!read_request_fields(request, fields, L"LoadRequest")) return ToolsJsonFormatter(-1, -1);
    const Json::Value& webClientId = request["webClientId"];
    if (!webClientId.isNull() && !webClientId.isString()) {
      WriteLogLevel1(L"LoadRequest: webClientId is not a string\n");
      return ToolsJsonFormatter(-1, -1);
    }
    // The dispatch reads "cmd" as text (a process id or a service name).
    const Json::Value& data = request["requestMessage"]["requestData"];
    if (data.isObject() && data.isMember("cmd") && !data["cmd"].isString()) {
      WriteLogLevel1(L"LoadRequest: requestData.cmd is not a string\n");
      return ToolsJsonFormatter(-1, -1);
    }
    ToolsJsonFormatter record(fields.requestId, fields.toolId);
    record.requestCode = fields.requestCode;
    record.requestData = data;
    record.webClientId = hk::FromUtf8(webClientId.isString() ? webClientId.asString() : std::string());

    WriteLog(L"LoadRequest: Loaded toolId:%d\n", record.toolId);
    WriteLog(L"LoadRequest: Loaded RequestId:%d\n", record.requestId);
    WriteLog(L"LoadRequest: Loaded RequestCode:%d\n", record.requestCode);
    WriteLog(L"LoadRequest: Loaded Request Data\n");
    return record;
  } catch (...) {
    WriteLogLevel1(L"LoadRequest: Exception Occurred\n");
    return ToolsJsonFormatter(-1, -1);
  }
}

namespace {

// Both formatter responses: validated first, then the members every response
// carries around the ones given, then written. 0, or 13 with its log line.
int build_response(bool valid, const wchar_t* invalidLine, const ToolsJsonFormatter& record, const char* isSuccess,
                   Json::Value members, const wchar_t* writeFailedLine, char** out) {
  if (!valid) {
    WriteLogLevel1(invalidLine);
    return kFailed;
  }
  try {
    Json::Value response(std::move(members));
    response["messageVersion"] = record.messageVersion;
    response["toolId"] = record.toolId;
    response["responseId"] = record.requestId;
    response["isSuccess"] = isSuccess;
    response["responseMessage"] = Json::Value();
    if (ChangeJsonToString(response, out) == kOk) return kOk;
  } catch (...) {
  }
  WriteLogLevel1(writeFailedLine);
  return kFailed;
}

}  // namespace

int ToolsJsonFormatter::GetNonPagedSuccessResponse(int responseCode, Json::Value responseData, char** out) const {
  Json::Value members(Json::objectValue);
  members["responseCode"] = responseCode;
  members["isPagedResponse"] = "false";
  members["responseData"] = std::move(responseData);
  return build_response(
      ValidateNonPagedSuccessResponse(toolId, requestId, responseCode) == kOk,
      L"ToolsJsonFormatter::GetNonPagedSuccessResponse: ValidateNonPagedSuccessResponse() failed\n", *this, "true",
      std::move(members), L"ToolsJsonFormatter::GetNonPagedSuccessResponse: ChangeJsonToString() Failed\n", out);
}

int ToolsJsonFormatter::GetErrorResponse(int errorCode, const char* errorOutput, char** out) const {
  Json::Value members(Json::objectValue);
  members["errorCode"] = errorCode;
  members["errorOutput"] = or_empty(errorOutput);
  return build_response(ValidateErrorResponse(toolId, requestId, errorCode) == kOk,
                        L"ToolsJsonFormatter::GetErrorResponse: ValidateErrorResponse() failed\n", *this, "false",
                        std::move(members), L"ToolsJsonFormatter::GetErrorResponse: ChangeJsonToString() Failed\n", out);
}

int AnswerFormatted(int32_t toolId, int successCode, Json::Value data, int errorCode, const char* failureText,
                    char** out) {
  const ToolsJsonFormatter record(0, toolId);
  if (record.GetNonPagedSuccessResponse(successCode, std::move(data), out) == kOk) return 1;
  WriteLog(L"dispatchCommandResponse: ToolsJsonFormatter::GetNonPagedSuccessResponse() method failed\n");
  record.GetErrorResponse(errorCode, failureText, out);
  return 0;
}

// ---------------------------------------------------------------------------
// Legacy envelopes

int POST_JSON_success(const char* toolId, const char* responseCode, const char* data, int /*paging*/,
                      std::string webClientId) {
  try {
    char* text = envelope_text(legacy_success(toolId, responseCode, Json::Value(or_empty(data)), webClientId));
    if (!text) return 0;
    g_wsHandler.SendTextLPSTR(text);
    hk::FreeText(text);
    return 1;
  } catch (...) {
    WriteLog(L"Error was caught in POST_JSON_success ");
    return 0;
  }
}

int POST_JSON_success(const char* toolId, const char* responseCode, Json::Value data, int /*paging*/, char** out,
                      std::string webClientId) {
  try {
    char* text = envelope_text(legacy_success(toolId, responseCode, std::move(data), webClientId));
    if (!text) return 0;
    WriteLog(L"data length = %d", static_cast<int>(std::strlen(text)));
    if (out) {
      *out = text;
    } else {
      hk::FreeText(text);
    }
  } catch (...) {
    WriteLog(L"Error was caught in POST_JSON_success ");
  }
  return 0;
}

int POST_JSON_faliure(const char* toolId, const char* errorCode, const char* errorText, std::string webClientId) {
  try {
    Json::Value envelope = legacy_envelope("1.0", toolId, webClientId, "false");
    Json::Value& message = envelope["responseMessage"];
    message["errorCode"] = or_empty(errorCode);
    message["errorOutput"] = or_empty(errorText);
    if (char* text = envelope_text(envelope)) {
      g_wsHandler.SendTextLPSTR(text);
      hk::FreeText(text);
    }
  } catch (...) {
    WriteLog(L"Error was caught in POST_JSON_faliure ");
  }
  return 0;
}

// ---------------------------------------------------------------------------
// JSON text

// jsoncpp 1.9.5 marks the classic reader and writer deprecated; the wire
// format (comments accepted, compact output with one line feed) is theirs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

int ChangeStringToJson(std::string text, Json::Value& out) {
  try {
    Json::Reader reader;
    if (!reader.parse(text, out, true)) {
      WriteLogLevel1(L"ChangeStringToJson: Invalid Data\n");
      return kFailed;
    }
  } catch (...) {
    WriteLogLevel1(L"ChangeStringToJson: Exception Occurred\n");
    return kFailed;
  }
  WriteLog(L"ChangeStringToJson: Parsing Successful\n");
  return kOk;
}

int ChangeJsonToString(Json::Value value, char** out) {
  if (value == Json::Value()) {
    WriteLogLevel1(L"ChangeJsonToString:\tError - json is NULL\n");
    return kFailed;
  }
  char* buffer = nullptr;
  try {
    Json::FastWriter writer;
    const std::string text = writer.write(value);
    buffer = calloc_text(text.size() + 2);
    if (buffer) std::memcpy(buffer, text.c_str(), text.size() + 1);
  } catch (...) {
    buffer = nullptr;
  }
  if (!buffer || !out) {
    hk::FreeText(buffer);
    WriteLogLevel1(L"ChangeJsonToString: Unable to copy JSON string to target buffer\n");
    return kFailed;
  }
  *out = buffer;
  return kOk;
}

#pragma GCC diagnostic pop

void hk::StoreOutcomeText(const Outcome& outcome, char** out) {
  if (!out) return;
  switch (outcome.kind) {
    case Outcome::Kind::kFalse:
      *out = const_cast<char*>(kOutcomeFalse);
      return;
    case Outcome::Kind::kError:
      *out = const_cast<char*>(kOutcomeError);
      return;
    case Outcome::Kind::kAnswer:
      if (outcome.text.empty()) {
        *out = const_cast<char*>(kOutcomeTrue);
      } else if (char* copy = calloc_text(outcome.text.size() + 2)) {
        std::memcpy(copy, outcome.text.data(), outcome.text.size());
        *out = copy;
      } else {
        *out = const_cast<char*>(kOutcomeError);
      }
      return;
  }
}

// ---------------------------------------------------------------------------
// Text conversions

namespace {

// A zero-filled heap copy of text, terminated, that the receiver frees.
template <typename Char>
Char* heap_copy(const std::basic_string<Char>& text) {
  auto* copy = static_cast<Char*>(std::calloc(text.size() + 2, sizeof(Char)));
  if (copy) std::copy(text.begin(), text.end(), copy);
  return copy;
}

}  // namespace

bool ChangeToWideStr(const char* utf8, wchar_t** out) {
  if (!utf8) {
    WriteLog(L"ChangeToWideStr: AnsiString is empty! \n");
    return false;
  }
  if (!out) return false;
  wchar_t* wide = heap_copy(hk::FromUtf8(utf8));
  if (!wide) return false;
  *out = wide;
  return true;
}

bool ChangeWideToUTF8Str(const wchar_t* wide, char** out) {
  if (!wide) {
    WriteLog(L"ChangeWideToUTF8Str: wideString is empty! \n");
    return false;
  }
  if (!out) return false;
  char* utf8 = heap_copy(hk::ToUtf8(wide));
  if (!utf8) return false;
  *out = utf8;
  return true;
}

bool ChangeAnsiToUTF8Str(const char* text, char** out) {
  if (!text) {
    WriteLog(L"ChangeAnsiToUTF8Str: ansiString is empty! \n");
    return false;
  }
  wchar_t* wide = nullptr;
  if (!ChangeToWideStr(text, &wide)) return false;
  const bool ok = ChangeWideToUTF8Str(wide, out);
  hk::FreeText(wide);
  return ok;
}

namespace {

// The string forms of the two conversions: 0, or 1 when the conversion
// failed (out then empty) or an error was caught.
template <typename In, typename Out, typename OutChar>
int convert_string(const In& in, Out& out, bool (*convert)(const typename In::value_type*, OutChar**),
                   const wchar_t* exceptionLine) {
  try {
    OutChar* converted = nullptr;
    if (!convert(in.c_str(), &converted)) {
      out.clear();
      return 1;
    }
    out.assign(converted);
    hk::FreeText(converted);
    return 0;
  } catch (...) {
    WriteLog(exceptionLine);
    return 1;
  }
}

}  // namespace

int ConvertToWideCString(std::string in, std::wstring& out) {
  return convert_string(in, out, &ChangeToWideStr, L"ConvertToWideCString: Exception Occurred\n");
}

int ConvertToUTF8CString(std::wstring in, std::string& out) {
  return convert_string(in, out, &ChangeWideToUTF8Str, L"ConvertToUTF8CString: Exception Occurred\n");
}

// ---------------------------------------------------------------------------
// Error texts

std::string GetKnownErrorText(uint32_t code) {
  switch (code) {
    case 1508:
      return "The requested operation is successful. Changes will not be effective until the browser is rebooted.";
    case 10001:
      return "mf.db.agent.config.script.powerscript_notfound";
    case 10002:
      return "mf.db.agent.config.run_as_admin.credentials_not_available";
    case 10003:
      return "mf.db.agent.config.returned_zero_failure";
    case 17021:
      return "OfficeUpdateError: Creating temp folder.";
    case 17023:
      return "OfficeUpdateError: User cancelled installation.";
    case 17024:
      return "OfficeUpdateError: Creating folder failed.";
    case 17025:
      return "OfficeUpdateError: Patch already installed.";
    case 17026:
      return "OfficeUpdateError: Patch already installed to admin installation.";
    case 17027:
      return "OfficeUpdateError: Installation source requires full file update.";
    case 17028:
      return "OfficeUpdateError: No product installed for contained patch.";
    case 17029:
      return "OfficeUpdateError: Patch failed to install.";
    case 17030:
      return "OfficeUpdateError: Invalid CIF format.";
    case 17031:
      return "OfficeUpdateError: Invalid baseline.";
    case 17034:
      return "OfficeUpdateError: Required patch does not apply to the machine.";
    case 17038:
      return "OfficeUpdateError: You do not have sufficient privileges to complete this installation for all users "
             "of the machine. Log on as administrator and then retry this installation.";
    case 17044:
      return "OfficeUpdateError: Installer was unable to run detection for this package.";
    case 17048:
      return "OfficeUpdateError : This installation requires Windows Installer 3.1 or greater.";
    case 17301:
      return "OfficeUpdateError: General Detection error";
    case 17302:
      return "OfficeUpdateError: Applying patch.";
    case 17303:
      return "OfficeUpdateError: Extracting file.";
    case 20001:
      return "Patch update delayed since application is used by another process";
    case 0x240006:
      return "Patch already Installed and the changes will not be effective until the system is rebooted.";
    case 0x240007:
      return "Patch already Uninstalled and the changes will not be effective until the system is rebooted.";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Unknown Error. Code : %d", static_cast<int>(code));
      return text;
    }
  }
}

std::wstring hk::SystemMessage(uint32_t code, bool oneLine) {
  hk::unique_hlocal buffer;
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS | (oneLine ? FORMAT_MESSAGE_MAX_WIDTH_MASK : 0),
                                        nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  buffer.reset(message);
  return message ? std::wstring(message, length) : std::wstring();
}

char* GetSystemErrorText(uint32_t code) {
  char* text = nullptr;
  try {
    const std::wstring message = hk::SystemMessage(code, true);
    if (!message.empty()) ChangeWideToUTF8Str(message.c_str(), &text);
    if (!text) {
      text = calloc_text(kErrorTextSize);
      if (!text) return nullptr;
      const std::string known = GetKnownErrorText(code);
      std::memcpy(text, known.c_str(), std::min(known.size(), kErrorTextSize - 1));
    }
    const std::wstring logged = hk::FromUtf8(text);
    if (code != 0) {
      WriteLogLevel1(L"Error Code : %d , Error Message : %s \n", static_cast<int>(code), logged.c_str());
    } else {
      WriteLogLevel1(L"Message : %s \n", logged.c_str());
    }
    return text;
  } catch (...) {
    return text;
  }
}
