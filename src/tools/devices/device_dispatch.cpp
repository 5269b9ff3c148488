// Tool 10's requests: which operation a code asks for and the answer it gets.
#include <utility>

#include "core/messages.h"
#include "core/text.h"
#include "infra/log.h"
#include "tools/devices/DeviceManager.h"

namespace hk::devices {
namespace {

constexpr int kToolId = 10;
constexpr int kErrorCode = 10600;
constexpr const char* kFailureText = "Error while getting Non Paged Response [Devices List]";

struct Operation {
  int code;
  const char* keyword;
};

constexpr Operation kOperations[] = {
    {10000, "ALL_DEVICE"},
    {10001, "GET_THS_DEVICE"},
    {10002, "GET_THS_DRIVER_INFO"},
    {10003, "REQUEST_THIS_DRIVER_ACTION"},
};

bool IsRequested(int code, const std::string& keyword) {
  for (const Operation& operation : kOperations) {
    if (operation.code == code) return SameKeyword(keyword, operation.keyword);
  }
  return false;
}

void Serve(int code, const Json::Value& request, Json::Value& data) {
  switch (code) {
    case 10000:
      data["DEVICE_LIST"] = RowsOrMarker(ClassRowsJson(CollectDeviceClasses()), "NO_DEVICES_FOUND");
      getThisDeviceList(data, nullptr);
      break;
    case 10001: {
      const std::wstring classGuid = L"{" + FromUtf8(RequestText(request, "DEVICE_GUID")) + L"}";
      getThisDeviceList(data, &classGuid);
      data["DRIVER_LIST"] = RowsOrMarker(data["DRIVER_LIST"], "NO_DEVICES_FOUND");
      break;
    }
    case 10002:
      getThisDeviceDetails(data, UnescapeDeviceId(FromUtf8(RequestText(request, "DEVICE_ID"))));
      data["DRIVER_INFO"] = RowsOrMarker(data["DRIVER_INFO"], "NO_DRIVER_INFO_FOUND");
      break;
    case 10003:
      InitiateDevExe(RequestText(request, "ACTION"), UnescapeDeviceId(FromUtf8(RequestText(request, "DEVICE_ID"))),
                     UnescapeClassGuid(FromUtf8(RequestText(request, "CLASS_GUID"))), data);
      break;
    default:
      break;
  }
}

}  // namespace

int DeviceManagerDispatch(int requestCode, Json::Value* requestData, Json::Value* responseData, char** responseText) {
  try {
    const Json::Value request = requestData ? *requestData : Json::Value();
    if (!IsRequested(requestCode, RequestText(request, "REQUEST"))) return 1;
    Json::Value scratch;
    Json::Value& data = responseData ? *responseData : scratch;
    Serve(requestCode, request, data);
    data["WebClientID"] = RequestText(request, "WebClientID");
    return AnswerFormatted(kToolId, requestCode + 300, data, kErrorCode, kFailureText, responseText);
  } catch (...) {
    WriteLog(L"DEVICE MANAGER DeviceManagerDispatch Exception occured ...!\n");
    if (responseText) ToolsJsonFormatter(0, kToolId).GetErrorResponse(kErrorCode, kFailureText, responseText);
    return 0;
  }
}

}  // namespace hk::devices
