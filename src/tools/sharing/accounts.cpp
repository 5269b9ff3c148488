// The machine's accounts as WMI knows them (Win32_Account), request 8003.
#include <windows.h>

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "infra/log.h"
#include "infra/wmi.h"
#include "infra/wmi_query.h"
#include "infra/wmi_variant.h"
#include "tools/sharing/sharing.h"

namespace {

using hk::sharing::AccountFacts;

const hk::wbem::QueryTexts kAccountTexts{
    {L"AcctDetails::GetAccctDetails() Failed to Enumerate...!\n", 1},
    {L"getAcctMembers(): pEnumerator->Next Failed\thres:%d, LastError:%d\n"},
    {L"getAcctMembers(): g_objWmiHandler.pclsObj is NULL\tLastError:%d\n"},
    {L"AcctDetails::GetGroupDetails()...Successfully Group details are printed....!\n"},
};

std::wstring ReadText(IWbemClassObject& row, const wchar_t* name) {
  return hk::wbem::Read<std::wstring>(row, name).value_or(std::wstring());
}

// uint8 arrives as VT_UI1; a provider that widens it to VT_I4 is read too.
uint8_t ReadSidType(IWbemClassObject& row) {
  hk::unique_variant value;
  if (!hk::wbem::GetProperty(row, L"SIDType", value)) return 0;
  if (const auto small = hk::wbem::As<uint8_t>(value.get())) return *small;
  if (const auto wide = hk::wbem::As<int32_t>(value.get()); wide && *wide >= 0 && *wide <= 0xFF) {
    return static_cast<uint8_t>(*wide);
  }
  return 0;
}

// In the order the account's properties are listed for this query.
AccountFacts ReadAccount(IWbemClassObject& row) {
  AccountFacts account;
  account.description = ReadText(row, L"Description");
  account.domain = ReadText(row, L"Domain");
  static_cast<void>(hk::wbem::Read<bool>(row, L"LocalAccount"));  // listed with the others, not sent
  account.name = ReadText(row, L"Name");
  account.sid = ReadText(row, L"SID");
  account.sidType = ReadSidType(row);
  account.status = ReadText(row, L"Status");
  return account;
}

}  // namespace

int AcctDetails::GetAcctDetails(hk::wbem::Connection connection, Json::Value& data) {
  try {
    WriteLogLevel1(L"[AcctDetails::GetAcctDetails] Started....!\n");
    Json::Value rows;
    uint32_t index = 0;
    const hk::wbem::QueryResult result =
        hk::wbem::RunQuery(std::move(connection), L"select * from Win32_Account", kAccountTexts,
                           {.pause_before_next = true}, [&](IWbemClassObject& row) {
                             rows[index] = hk::sharing::AccountRow(index, ReadAccount(row));
                             ++index;
                           });
    if (result.status == hk::wbem::QueryStatus::kNotConnected || result.status == hk::wbem::QueryStatus::kQueryFailed)
      return 0;
    data["Accounts"] = rows;
    WriteLog(L"AcctDetails::GetGroupDetails() Finished....!\n");
    return 1;
  } catch (...) {
    WriteLog(L"AcctDetails::getGroupDetails() Exception occured ...!\n");
    return 0;
  }
}

void AccountDetails::initializeAccountParameters(Json::Value& data) {
  WriteLog(L"[AccountDetails::initializeAccountParameters()] Started!\n");
  try {
    wmi local;
    if (AcctDetails::GetAcctDetails(hk::wbem::Open(local), data) != 0) {
      WriteLog(
          L"[GroupDetails::initializeGroupsParameters] The GroupDetails details are fetched and loaded in memory "
          L"Successfully!\n");
    }
    WriteLog(L"[GroupDetails::initializeGroupsParameters] Finished!\n");
  } catch (...) {
    WriteLog(L"[GroupDetails::initializeGroupsParameters] Exception is Occurred....!!!!");
  }
}
