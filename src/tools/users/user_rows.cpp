#include "tools/users/user_rows.h"

#include "core/messages.h"

namespace hk::users {

std::string AccountTypeName(uint32_t account_type) {
  // Win32_UserAccount.AccountType: the UF_*_ACCOUNT bits of the account's flags.
  switch (account_type) {
    case 256:  // temporary duplicate account, shown as an ordinary one
    case 512:
      return "Normal";
    case 2048:
      return "InterDomain";
    case 4096:
      return "WorkStation";
    case 8192:
      return "Server Account";
    default:
      return std::string();
  }
}

const char* StatusText(bool disabled) { return disabled ? "Disabled" : "Active"; }

Json::Value UserRowJson(const UserAccountRow& row) {
  Json::Value json(Json::objectValue);
  json["sid"] = row.sid;
  json["domain"] = row.domain;
  json["status"] = row.status;
  json["account_type"] = row.account_type;
  json["name"] = row.name;
  json["full_name"] = row.full_name;
  json["description"] = row.description;
  return json;
}

void BuildUsersResponse(const Json::Value& rows, char** status) {
  POST_JSON_success("3", "3301", rows, 1, status, std::string());
}

}  // namespace hk::users
