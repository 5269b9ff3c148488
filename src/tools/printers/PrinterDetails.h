// Tool 7: the printers the machine knows, from WMI's Win32_Printer, the print
// providers' registry entries and the spooler's connections, in one list.
#pragma once
#include <json/value.h>

#include <cstdint>

#include "infra/wmi.h"
#include "tools/printers/printer_render.h"

class PrinterDetails {
 public:
  // Request 7000 lists the printers when "PrinterName" is "ALL_PRINTERS" (in
  // any case); any other name answers with what responseData already holds.
  // Other codes build nothing. Returns 0 only when the error response had to
  // be sent instead of the list.
  int dispatch(int requestCode, Json::Value* requestData, Json::Value* responseData, char** responseText);

  // The whole inventory, appended to printers. Nothing is appended when WMI
  // cannot be queried: the other sources are not consulted then.
  void initializePrinterParameters(Json::Value& printers);

  // Appends at the running index with the next printer number.
  void Append(const hk::printers::PrinterRow& row);

 private:
  // True when the query ran and the other sources were consulted.
  bool GetPrinterDetails(hk::wbem::Connection connection);

  uint8_t networkPrinter_ = 0;  // WMI reported a network printer
  int32_t count_ = 0;
  Json::Value* printers_ = nullptr;  // the array of the inventory under way
};

extern PrinterDetails g_printerDetails;

namespace hk::printers {
// The dispatcher that Chostkeeper::jsonRequestHandler calls for request codes
// 7000 to 7299: PrinterDetails::dispatch on g_printerDetails.
int DispatchRequest(int requestCode, Json::Value* requestData, Json::Value* responseData, char** responseText);
}  // namespace hk::printers
