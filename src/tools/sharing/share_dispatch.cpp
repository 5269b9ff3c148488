// Tool 8's dispatcher: one operation per request code, answered with the
// formatter's success response (the request code + 300), or with error 8600
// when that response cannot be built.
#include <json/value.h>

#include "core/messages.h"
#include "infra/log.h"
#include "tools/sharing/sharing.h"
#include "tools/sharing/sharing_render.h"

namespace {

constexpr int kSharingTool = 8;
constexpr int kSharingError = 8600;
constexpr int kSuccessOffset = 300;

using Operation = void (*)(const Json::Value& request, Json::Value& data);

struct ShareRequest {
  int code;
  Operation run;
  const char* failureText;
};

void SharesList(const Json::Value& request, Json::Value& data) {
  Json::Value listing;
  if (hk::sharing::IsAllShares(hk::sharing::RequestText(request, "SHARE_NAME"))) hk::sharing::ListShares(listing);
  data = hk::sharing::SharesAnswer(listing);
}

void AccountsList(const Json::Value&, Json::Value& data) {
  AccountDetails::initializeAccountParameters(data);
  hk::sharing::MarkMissingAccounts(data);
}

void SessionsList(const Json::Value&, Json::Value& data) { hk::sharing::ListSessions(data); }
void OpenFilesList(const Json::Value&, Json::Value& data) { hk::sharing::ListOpenFiles(data); }

const ShareRequest kRequests[] = {
    {8000, SharesList, "Error while getting Non Paged Response [shares List]"},
    {8001, hk::sharing::SetShareInfo, "Error while getting Non Paged Response [set share info]"},
    {8002, hk::sharing::DeleteShare, "Error while getting Non Paged Response [delete a share]"},
    {8003, AccountsList, "Error while getting Non Paged Response [Logs List]"},
    {8005, SessionsList, "Error while getting Non Paged Response [Sessions List]"},
    {8006, hk::sharing::DeleteSession, "Error while getting Non Paged Response [delete a Session]"},
    {8010, OpenFilesList, "Error while getting Non Paged Response [open files List]"},
    {8011, hk::sharing::CloseFile, "Error while getting Non Paged Response [close a File]"},
};

const ShareRequest* FindRequest(int code) {
  for (const ShareRequest& request : kRequests) {
    if (request.code == code) return &request;
  }
  return nullptr;
}

}  // namespace

int HandleShareRequest(int requestCode, Json::Value* requestData, Json::Value* responseData, char** responseText) {
  const ShareRequest* request = FindRequest(requestCode);
  if (!request) return 1;
  try {
    static const Json::Value kNoRequest;
    Json::Value scratch;
    Json::Value& data = responseData ? *responseData : scratch;
    request->run(requestData ? *requestData : kNoRequest, data);
    return AnswerFormatted(kSharingTool, requestCode + kSuccessOffset, data, kSharingError, request->failureText,
                           responseText);
  } catch (...) {
    WriteLog(L"Exception occured in HandleShareRequest\n");
    try {
      ToolsJsonFormatter(0, kSharingTool).GetErrorResponse(kSharingError, request->failureText, responseText);
    } catch (...) {
    }
    return 0;
  }
}
