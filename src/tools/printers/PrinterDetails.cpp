#include "tools/printers/PrinterDetails.h"

#include <string>
#include <utility>

#include "infra/log.h"
#include "infra/wmi_query.h"
#include "tools/printers/printer_collect.h"

PrinterDetails g_printerDetails;

namespace {

constexpr int kListPrinters = 7000;

const hk::wbem::QueryTexts kTexts{
    {L"PrinterDetails::GetPrinterDetails() Failed to Enumerate...%d!\n", 1},
    {},
    {},
    {L"PrinterDetails::GetPrinterDetails()...Successfully Process details are printed....!\n", 1}};

bool AsksForAllPrinters(const Json::Value* requestData) {
  if (!requestData || !requestData->isObject()) return false;
  static const std::string kKey = "PrinterName";
  const Json::Value* name = requestData->find(kKey.data(), kKey.data() + kKey.size());
  if (!name || !name->isString()) return false;
  const std::string text = name->asString();
  static const std::string kAll = "ALL_PRINTERS";
  if (text.size() != kAll.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
    if (c != kAll[i]) return false;
  }
  return true;
}

}  // namespace

int PrinterDetails::dispatch(int requestCode, Json::Value* requestData, Json::Value* responseData,
                             char** responseText) {
  try {
    if (requestCode != kListPrinters) return 1;
    Json::Value local;
    Json::Value& data = responseData ? *responseData : local;
    if (AsksForAllPrinters(requestData)) {
      if (!data.isObject()) data = Json::Value(Json::objectValue);
      initializePrinterParameters(data["printers"]);
    }
    return hk::printers::AnswerPrinters(data, responseText);
  } catch (...) {
    WriteLogLevel1(L"Error was caught while handling a request || PrinterDetails::dispatch()|| ");
    return 0;
  }
}

void PrinterDetails::initializePrinterParameters(Json::Value& printers) {
  networkPrinter_ = 0;
  count_ = 0;
  printers = Json::Value();
  printers_ = &printers;
  WriteLogLevel1(L"[PrinterDetails::initializePrinterParameters()] Started!\n");
  try {
    wmi local;
    if (GetPrinterDetails(hk::wbem::Open(local)))
      WriteLogLevel1(
          L"[PrinterDetails::initializePrinterParameters] The printer details are fetched and loaded in memory "
          L"Successfully!\n");
  } catch (...) {
    WriteLogLevel1(L"[PrinterDetails::initializePrinterParameters] Exception is Occurred....!!!!");
  }
  WriteLogLevel1(L"[PrinterDetails::initializePrinterParameters] Finished!\n");
  printers_ = nullptr;
}

bool PrinterDetails::GetPrinterDetails(hk::wbem::Connection connection) {
  WriteLogLevel1(L"[PrinterDetails::GetPrinterDetails] Started....!\n");
  try {
    const hk::wbem::QueryResult result =
        hk::wbem::RunQuery(std::move(connection), L"SELECT * FROM Win32_Printer", kTexts, {.pause_before_next = true},
                           [this](IWbemClassObject& row) {
                             const hk::printers::PrinterRow printer = hk::printers::ReadWmiPrinter(row);
                             if (printer.network) networkPrinter_ = 1;
                             Append(printer);
                           });
    // Without WMI's answer the other sources are not consulted either.
    if (result.status == hk::wbem::QueryStatus::kNotConnected || result.status == hk::wbem::QueryStatus::kQueryFailed)
      return false;
    if (!networkPrinter_) CInvWMIClassFetch::GetRegPrinterData(*this);
    CInvWMIClassFetch::GetAllNetworkSharedPrinters(*this);
    WriteLogLevel1(L"PrinterDetails::getPrinterDetails() Finished....!\n");
    return true;
  } catch (...) {
    WriteLogLevel1(L"PrinterDetails::getPrinterDetails() Exception occured ...!\n");
    return false;
  }
}

void PrinterDetails::Append(const hk::printers::PrinterRow& row) {
  if (!printers_) return;
  (*printers_)[static_cast<Json::ArrayIndex>(count_)] = hk::printers::PrinterRowJson(row, count_ + 1);
  ++count_;
}

namespace hk::printers {

int DispatchRequest(int requestCode, Json::Value* requestData, Json::Value* responseData, char** responseText) {
  return g_printerDetails.dispatch(requestCode, requestData, responseData, responseText);
}

}  // namespace hk::printers
