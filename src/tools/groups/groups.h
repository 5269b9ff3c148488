// Tool 6, local groups: the dispatcher that Chostkeeper::jsonRequestHandler
// calls for request codes 6000 to 6299.
#pragma once
#include <json/value.h>

namespace hk::groups {

// 6000 the groups with their members, 6001 add or delete a member, 6002 add
// or delete a group, 6003 the user accounts. The answer (success code C+300,
// error code C+600) goes to *responseText; other codes build nothing.
// 1, or 0 when the success response could not be built.
int DispatchRequest(int requestCode, Json::Value* requestData, Json::Value* responseData, char** responseText);

}  // namespace hk::groups
