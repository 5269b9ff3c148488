#include <json/value.h>

#include <string>
#include <utility>

#include "core/messages.h"
#include "core/text.h"
#include "infra/log.h"
#include "tools/groups/group_details.h"
#include "tools/groups/group_render.h"
#include "tools/groups/groups.h"

namespace hk::groups {
namespace {

constexpr int32_t kToolId = 6;

int Answer(int requestCode, Json::Value data, Json::Value* responseData, char** responseText) {
  if (responseData) *responseData = data;
  return AnswerFormatted(kToolId, requestCode + 300, std::move(data), requestCode + 600,
                         "Error while getting Non Paged Response [Logs List]", responseText);
}

Json::Value ListGroups(const GroupRequest& request) {
  if (!IsKeyword(ToUtf8(request.group), "All_Groups")) return GroupsAnswer(Json::Value());
  GroupDetails details;
  details.initializeGroupsParameters();
  return GroupsAnswer(details.groups());
}

Json::Value ChangeMemberAnswer(const GroupRequest& request) {
  const bool add = IsKeyword(request.request, "Add");
  const Action action = add ? Action::kAddMember : Action::kDelMember;
  // An account needs both halves; a lone "\" would name no one.
  if (request.domain.empty() || request.user.empty()) return EmptyAccountAnswer(action);
  return ActionAnswer(action, ChangeMember(add, request.group, request.domain + L"\\" + request.user));
}

Json::Value ChangeGroupAnswer(const GroupRequest& request) {
  const bool add = IsKeyword(request.request, "Add");
  return ActionAnswer(add ? Action::kAddGroup : Action::kDelGroup,
                      ChangeGroup(add, request.group, request.description));
}

}  // namespace

int DispatchRequest(int requestCode, Json::Value* requestData, Json::Value* responseData, char** responseText) {
  try {
    if (!responseText) return 0;
    const GroupRequest request = ReadRequest(requestData);
    switch (requestCode) {
      case 6000:
        return Answer(requestCode, ListGroups(request), responseData, responseText);
      case 6001:
        return Answer(requestCode, ChangeMemberAnswer(request), responseData, responseText);
      case 6002:
        return Answer(requestCode, ChangeGroupAnswer(request), responseData, responseText);
      case 6003:
        if (!IsKeyword(request.request, "getUsers")) return 1;
        return Answer(requestCode, UsersAnswer(ListUsers()), responseData, responseText);
      default:
        return 1;
    }
  } catch (...) {
    WriteLogLevel1(L"Error was caught while handling a request || hk::groups::DispatchRequest()|| ");
    return 0;
  }
}

}  // namespace hk::groups
