// Tool 15's dispatcher: 15000 lists the startup items, 15001 enables,
// disables or removes one of them.
#include <string>

#include "core/messages.h"
#include "core/text.h"
#include "infra/log.h"
#include "tools/startup/Startup_Process.h"
#include "tools/startup/startup_rules.h"

using namespace hk::startup;

namespace {

constexpr int kToolId = 15;
constexpr int kListCode = 15000;
constexpr int kActionCode = 15001;
constexpr int kErrorCode = 15600;
constexpr char kListFailure[] = "Error while getting Non Paged Response [Startup List]";
constexpr char kActionFailure[] = "Error while getting Non Paged Response [Devices List]";

int RunAction(const std::string& action, const std::wstring& name, const std::wstring& user) {
  // Without a name the removal would aim at the Run key's default value.
  if (name.empty()) return 0;
  if (EqualsNoCase(action, "ENABLE")) return Startup_Process::setStartupState(name, 1, user);
  if (EqualsNoCase(action, "DISABLE")) return Startup_Process::setStartupState(name, 2, user);
  if (EqualsNoCase(action, "REMOVE")) return Startup_Process::deleteStartupEntry(name);
  return 0;
}

}  // namespace

int Startup_Process::ServerToAgentHandler(int requestCode, Json::Value* requestData, Json::Value* responseData,
                                          char** responseText) {
  try {
    WriteLog(L"inside Startup_Process::ServerToAgentHandler");
    if (!requestData || !responseData || !responseText) return 0;
    const std::string request = MemberText(*requestData, "REQUEST");
    const std::string webClientId = MemberText(*requestData, "WebClientID");

    if (requestCode == kListCode && EqualsNoCase(request, "ALL_APPS")) {
      getStartup_Processes(*responseData);
      FinishListData(*responseData, webClientId);
      return AnswerFormatted(kToolId, 15300, *responseData, kErrorCode, kListFailure, responseText);
    }
    if (requestCode == kActionCode && EqualsNoCase(request, "REQUEST_THIS_APP_ACTION")) {
      detectBitness();
      const std::string action = MemberText(*requestData, "ACTION");
      const int result = RunAction(action, hk::FromUtf8(MemberText(*requestData, "APP_NAME")),
                                   hk::FromUtf8(MemberText(*requestData, "USER")));
      FillActionData(*responseData, webClientId, action, result);
      return AnswerFormatted(kToolId, 15301, *responseData, kErrorCode, kActionFailure, responseText);
    }
    return 0;
  } catch (...) {
    WriteLog(L"Exception occured inside Startup_Process::ServerToAgentHandler()..!!");
    try {
      if (responseText && (requestCode == kListCode || requestCode == kActionCode)) {
        ToolsJsonFormatter(0, kToolId)
            .GetErrorResponse(kErrorCode, requestCode == kListCode ? kListFailure : kActionFailure, responseText);
      }
    } catch (...) {
      // Nothing more to say: the empty text goes out.
    }
    return 0;
  }
}
