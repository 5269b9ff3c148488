// Tool 3's WMI side: the local accounts of Win32_UserAccount, read on the
// connection the caller prepared with the process-wide wmi instance.
#include <json/value.h>

#include <utility>

#include "core/messages.h"
#include "core/outcome.h"
#include "core/text.h"
#include "infra/log.h"
#include "infra/wmi.h"
#include "infra/wmi_query.h"
#include "infra/wmi_variant.h"
#include "tools/users/user_rows.h"
#include "tools/users/users.h"

namespace hk::users {
namespace {

std::string ReadText(IWbemClassObject& row, const wchar_t* name) {
  const auto text = wbem::Read<std::wstring>(row, name);
  return text ? hk::ToUtf8(*text) : std::string();
}

UserAccountRow ReadUserAccount(IWbemClassObject& row) {
  UserAccountRow account;
  account.name = ReadText(row, L"Name");
  account.description = ReadText(row, L"Description");
  account.full_name = ReadText(row, L"FullName");
  if (const auto type = wbem::Read<uint32_t>(row, L"AccountType")) account.account_type = AccountTypeName(*type);
  // Any value counts here, whatever its type; only a failed Get leaves it empty.
  unique_variant disabled;
  if (wbem::GetProperty(row, L"Disabled", disabled)) account.status = StatusText(wbem::IsSet(disabled.get()));
  account.domain = ReadText(row, L"Domain");
  account.sid = ReadText(row, L"SID");
  return account;
}

// This query logs only its failure; it neither pauses nor looks at Next's result.
const wbem::QueryTexts kTexts{{L"Failed(ExecQuery) in -> || wmi::request || "}, {}, {}, {}};
const wbem::QueryOptions kOptions{.pause_before_next = false, .stop_on_failed_next = false};

}  // namespace
}  // namespace hk::users

namespace hk::users {

Outcome QueryAccounts(wbem::Connection connection) {
  try {
    Json::Value rows;  // null until the first row makes it an array
    Json::ArrayIndex count = 0;
    wbem::RunQuery(std::move(connection), L"SELECT * FROM Win32_UserAccount where LocalAccount = true", kTexts,
                   kOptions, [&](IWbemClassObject& row) { rows[count++] = UserRowJson(ReadUserAccount(row)); });
    if (count == 0) return Outcome::False();
    char* response = nullptr;
    BuildUsersResponse(rows, &response);
    if (!response) return Outcome::Error();
    Outcome answer = Outcome::Answer(response);
    FreeText(response);
    return answer;
  } catch (...) {
    WriteLog(L"An error was caught in wmi::request() ");
    return Outcome::Error();
  }
}

Outcome ListAccounts() { return QueryAccounts(wbem::Open(g_objWmiHandler)); }

int RunAccountRequest(char** status) { return g_objWmiHandler.request(wbem::Open(g_objWmiHandler), status); }

}  // namespace hk::users

int wmi::request(hk::wbem::Connection connection, char** status) {
  if (!status) return 0;
  const hk::Outcome outcome = hk::users::QueryAccounts(std::move(connection));
  hk::StoreOutcomeText(outcome, status);
  return outcome.kind == hk::Outcome::Kind::kAnswer ? 1 : 0;
}
