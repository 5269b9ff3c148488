#include "tools/printers/printer_render.h"

#include <string>

#include "core/messages.h"
#include "core/text.h"
#include "infra/log.h"

namespace hk::printers {
namespace {

constexpr int32_t kToolId = 7;
constexpr int kListed = 7300;
constexpr int kNoPrinters = 7304;
constexpr int kAnswerFailed = 7600;

// CIM_LogicalDevice.Availability, from 1.
constexpr const char* kAvailability[] = {"Other",
                                         "Unknown",
                                         "Running/Full Power",
                                         "Warning",
                                         "In Test",
                                         "Not Applicable",
                                         "Power Off",
                                         "Off Line",
                                         "Off Duty",
                                         "Degraded",
                                         "Not Installed",
                                         "Install Error",
                                         "Power Save - Unknown",
                                         "Power Save - Low Power Mode",
                                         "Power Save - Standby",
                                         "Power Cycle",
                                         "Power Save - Warning",
                                         "Paused",
                                         "Not Ready",
                                         "Not Configured",
                                         "Quiesced"};

// Win32_Printer.ExtendedPrinterStatus, from 1.
constexpr const char* kExtendedStatus[] = {"Other",         "Unknown",
                                           "Idle",          "Printing",
                                           "Warming Up",    "Stopped Printing",
                                           "Offline",       "Paused",
                                           "Error",         "Busy",
                                           "Not Available", "Waiting",
                                           "Processing",    "Initialization",
                                           "Power Save",    "Pending Deletion",
                                           "I/O Active",    "Manual Feed"};

template <size_t N>
const char* FromOne(const char* const (&names)[N], uint32_t value) {
  return value >= 1 && value <= N ? names[value - 1] : "";
}

const char* YesNo(bool set) { return set ? "Yes" : "No"; }

}  // namespace

const char* AvailabilityName(uint32_t availability) { return FromOne(kAvailability, availability); }

const char* ExtendedStatusName(uint32_t status) { return FromOne(kExtendedStatus, status); }

Json::Value PrinterRowJson(const PrinterRow& row, int32_t id) {
  Json::Value json(Json::objectValue);
  json["PRINTER_ID"] = std::to_string(id);
  json["PRINTER_AVAILABILITY"] = AvailabilityName(row.availability);
  json["PRINTER_CAPTION"] = ToUtf8(row.caption);
  json["PRINTER_COMMENT"] = ToUtf8(row.comment);
  json["PRINTER_DESCRIPTION"] = ToUtf8(row.description);
  json["PRINTER_DEVICE_ID"] = ToUtf8(row.device_id);
  json["PRINTER_DRIVER_NAME"] = ToUtf8(row.driver_name);
  json["EXTENDED_PRINTER_STATUS"] = ExtendedStatusName(row.extended_status);
  json["PRINTER_LOCATION"] = ToUtf8(row.location);
  json["MAX_COPIES"] = std::to_string(row.max_copies);
  json["PRINTER_NAME"] = ToUtf8(row.name);
  json["PRINTER_NETWORK"] = YesNo(row.network);
  json["PRINTER_PARAMETER"] = ToUtf8(row.parameters);
  json["PRINTER_PORT_NAME"] = ToUtf8(row.port_name);
  json["PRINTER_STATE"] = std::to_string(row.printer_state);
  json["PRINTER_STATUS"] = std::to_string(row.printer_status);
  json["PRINTER_SERVER_NAME"] = ToUtf8(row.server_name);
  json["PRINTER_SHARED"] = YesNo(row.shared);
  json["PRINTER_SHARE_NAME"] = ToUtf8(row.share_name);
  json["PRINTER_STATUS_VALUE"] = ToUtf8(row.status);
  json["PRINTER_SYSTEM_NAME"] = ToUtf8(row.system_name);
  json["WORK_OFFLINE"] = row.work_offline
                             ? "you can queue print jobs on the computer when the printer is offline"
                             : "No,you cannot queue print jobs on the computer when the printer is offline";
  json["PRINT_PROCESSOR_NAME"] = ToUtf8(row.print_processor);
  return json;
}

DescriptionParts SplitDescription(std::wstring_view description) {
  DescriptionParts parts;
  parts.shared = description.size() >= 2 && description[0] == L'\\' && description[1] == L'\\';
  int last_backslash = -1;
  for (size_t i = 0; i < description.size(); ++i) {
    const int at = static_cast<int>(i);
    if (description[i] == L',') {
      if (parts.first_comma < 0) {
        parts.first_comma = at;
      } else {
        parts.second_comma = at;
        break;
      }
    } else if (description[i] == L'\\' && i > 1) {
      last_backslash = at;
    }
  }
  if (parts.second_comma < 0) return parts;
  parts.server = description.substr(0, static_cast<size_t>(last_backslash >= 0 ? last_backslash : parts.first_comma));
  parts.driver = description.substr(static_cast<size_t>(parts.first_comma + 1),
                                    static_cast<size_t>(parts.second_comma - parts.first_comma - 1));
  return parts;
}

PrinterRow ConnectionRow(std::wstring_view name, std::wstring_view comment, const DescriptionParts& parts) {
  PrinterRow row;
  row.comment = comment;
  row.device_id = name;
  row.name = name;
  row.driver_name = parts.driver;
  row.server_name = parts.server;
  row.network = true;
  row.shared = parts.shared;
  return row;
}

int AnswerPrinters(Json::Value& responseData, char** out) {
  if (!responseData.isObject()) responseData = Json::Value(Json::objectValue);
  Json::Value& printers = responseData["printers"];
  int code = kListed;
  if (printers.empty()) {  // null, or an empty array or object
    printers = "no_printers_found";
    code = kNoPrinters;
  }
  WriteLogLevel1(L"response code is %d \n", code);
  return AnswerFormatted(kToolId, code, responseData, kAnswerFailed,
                         "Error while getting Non Paged Response [Printers List]", out);
}

}  // namespace hk::printers
