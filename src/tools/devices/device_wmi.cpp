// The device tool's WMI side: every operation walks all of Win32_PnPEntity on
// a wmi of its own and picks what it needs.
#include <utility>

#include "infra/log.h"
#include "infra/wmi.h"
#include "infra/wmi_query.h"
#include "infra/wmi_variant.h"
#include "tools/devices/DeviceManager.h"

namespace hk::devices {
namespace {

constexpr const wchar_t* kQuery = L"SELECT * FROM Win32_PnPEntity";
constexpr wbem::QueryOptions kOptions{.pause_before_next = true, .stop_on_failed_next = true};

const wbem::QueryTexts kListTexts{
    {L"DEVICE MANAGER getThisDeviceList() Failed to Enumerate...!\n"},
    {L"DEVICE MANAGER getThisDeviceList(): pEnumerator->Next Failed\thres:%d, LastError:%d\n"},
    {L"DEVICE MANAGER getThisDeviceList(): g_objWmiHandler.pclsObj is NULL\tLastError:%d\n"},
    {L"DEVICE MANAGER getThisDeviceList()...Successfully Group details are printed....!\n"}};
const wbem::QueryTexts kDetailsTexts{
    {L"DEVICE MANAGER getThisDeviceDetails() Failed to Enumerate...!\n"},
    {L"DEVICE MANAGER getThisDeviceDetails(): pEnumerator->Next Failed\thres:%d, LastError:%d\n"},
    {L"DEVICE MANAGER getThisDeviceDetails(): g_objWmiHandler.pclsObj is NULL\tLastError:%d\n"},
    {L"DEVICE MANAGER getThisDeviceDetails()...Successfully Group details are printed....!\n"}};
const wbem::QueryTexts kStatusTexts{
    {L"DEVICE MANAGER getThisDeviceStatus() Failed to Enumerate...!\n"},
    {L"DEVICE MANAGER getThisDeviceStatus(): pEnumerator->Next Failed\thres:%d, LastError:%d\n"},
    {L"DEVICE MANAGER getThisDeviceStatus(): g_objWmiHandler.pclsObj is NULL\tLastError:%d\n"},
    {L"DEVICE MANAGER getThisDeviceStatus()...Successfully Group details are printed....!\n"}};

// The walk reached its end, normally or on a failed Next.
bool Walked(const wbem::QueryResult& result) {
  return result.status == wbem::QueryStatus::kCompleted || result.status == wbem::QueryStatus::kNextFailed;
}

wbem::QueryResult WalkDevices(const wbem::QueryTexts& texts, const wbem::RowCallback& onRow) {
  wmi local;
  return wbem::RunQuery(wbem::Open(local), kQuery, texts, kOptions, onRow);
}

std::wstring TextOrEmpty(IWbemClassObject& row, const wchar_t* name) {
  return wbem::Read<std::wstring>(row, name).value_or(std::wstring());
}

// Whether the row is the wanted device. A row without an identifier
// matches nothing.
bool IsDevice(IWbemClassObject& row, const std::wstring& deviceId) {
  const auto id = wbem::Read<std::wstring>(row, L"DeviceID");
  return id && SameText(*id, deviceId);
}

}  // namespace

void getThisDeviceList(Json::Value& data, const std::wstring* classGuid) {
  Json::Value members(Json::arrayValue);
  try {
    WriteLog(L"[DEVICE MANAGER getThisDeviceList] Started....!\n");
    Json::Int count = 0;
    Json::Int enabled = 0;
    const auto result = WalkDevices(kListTexts, [&](IWbemClassObject& row) {
      if (classGuid) {
        const std::wstring rowClass = TextOrEmpty(row, L"ClassGuid");
        const std::wstring name = TextOrEmpty(row, L"Name");
        const std::wstring id = TextOrEmpty(row, L"DeviceID");
        if (SameText(rowClass, *classGuid)) members.append(MemberRow(id, name));
        return;
      }
      ++count;
      if (SameText(TextOrEmpty(row, L"Status"), L"OK")) ++enabled;
    });
    if (Walked(result)) {
      WriteLog(L"DEVICE MANAGER getThisDeviceList() Finished....!\n");
      if (!classGuid) {
        data["DRIVERS_COUNT"] = count;
        data["DRIVERS_ENABLE_COUNT"] = enabled;
      }
    }
  } catch (...) {
    WriteLog(L"DEVICE MANAGER getThisDeviceList Exception occured ...!\n");
  }
  if (classGuid && !members.empty()) data["DRIVER_LIST"] = std::move(members);
}

void getThisDeviceDetails(Json::Value& data, const std::wstring& deviceId) {
  Json::Value properties(Json::arrayValue);
  try {
    WriteLog(L"[DEVICE MANAGER getThisDeviceDetails] Started....!\n");
    const auto result = WalkDevices(kDetailsTexts, [&](IWbemClassObject& row) {
      if (!IsDevice(row, deviceId)) return;
      for (const wchar_t* name : kDeviceProperties) {
        unique_variant value;
        CIMTYPE type = CIM_EMPTY;
        if (!wbem::GetProperty(row, name, value, &type)) continue;
        WriteLog(L"property is %s\n", name);
        if (const auto text = PropertyValue(name, value.get(), type)) properties.append(PropertyRow(name, *text));
      }
    });
    if (Walked(result)) WriteLog(L"DEVICE MANAGER getThisDeviceDetails() Finished....!\n");
  } catch (...) {
    WriteLog(L"DEVICE MANAGER getThisDeviceDetails Exception occured ...!\n");
  }
  if (!properties.empty()) data["DRIVER_INFO"] = std::move(properties);
}

std::wstring getThisDeviceStatus(const std::wstring& deviceId) {
  std::wstring status;
  try {
    WriteLog(L"[DEVICE MANAGER getThisDeviceStatus] Started....!\n");
    const auto result = WalkDevices(kStatusTexts, [&](IWbemClassObject& row) {
      if (!IsDevice(row, deviceId)) return;
      unique_variant value;
      CIMTYPE type = CIM_EMPTY;
      if (!wbem::GetProperty(row, L"Status", value, &type)) return;
      WriteLog(L"property is %s\n", L"Status");
      if (type == CIM_STRING) status = wbem::As<std::wstring>(value.get()).value_or(std::wstring());
    });
    if (Walked(result)) WriteLog(L"DEVICE MANAGER getThisDeviceStatus Finished....!\n");
  } catch (...) {
    WriteLog(L"DEVICE MANAGER getThisDeviceStatus Exception occured ...!\n");
  }
  return status;
}

}  // namespace hk::devices
