// Tool 3: the local user accounts as rows of seven strings and the legacy
// success response that carries them. WMI is read in user_accounts.cpp.
#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>

namespace hk::users {

// One Win32_UserAccount row, every field narrowed by low byte. An empty field
// is a property that could not be read.
struct UserAccountRow {
  std::string sid;
  std::string domain;
  std::string status;  // "Disabled" or "Active"
  std::string account_type;
  std::string name;
  std::string full_name;
  std::string description;
};

// "Normal", "InterDomain", "WorkStation", "Server Account", or empty.
std::string AccountTypeName(uint32_t account_type);
const char* StatusText(bool disabled);

Json::Value UserRowJson(const UserAccountRow& row);

// The legacy success envelope, tool "3", code "3301", no web client id; the
// text is stored through status.
void BuildUsersResponse(const Json::Value& rows, char** status);

}  // namespace hk::users
