// The plain part of the printer tool: one printer's facts as a row of the
// listing, the names of the status numbers, the split of a connection's
// description and the answer of a request.
#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace hk::printers {

// One printer as a source saw it. A field a source does not know stays
// empty or 0.
struct PrinterRow {
  uint16_t availability = 0;
  std::wstring caption;
  std::wstring comment;
  std::wstring description;
  std::wstring device_id;
  std::wstring driver_name;
  std::wstring location;
  uint32_t max_copies = 0;
  std::wstring name;
  bool network = false;
  std::wstring parameters;
  std::wstring port_name;
  uint32_t printer_state = 0;
  uint16_t printer_status = 0;
  std::wstring server_name;
  bool shared = false;
  std::wstring share_name;
  std::wstring status;
  std::wstring system_name;
  bool work_offline = false;
  std::wstring print_processor;
  uint32_t extended_status = 0;
};

// Win32_Printer's Availability and ExtendedPrinterStatus as words; "" for a
// value outside the tables.
const char* AvailabilityName(uint32_t availability);
const char* ExtendedStatusName(uint32_t status);

// The row as the wire carries it: every value a UTF-8 string, id being the
// printer's running number.
Json::Value PrinterRowJson(const PrinterRow& row, int32_t id);

// A connection's description reads "\\server\printer,driver,location".
// Positions are -1 for a comma that is not there; server and driver stay
// empty unless both commas are.
struct DescriptionParts {
  bool shared = false;  // starts with two backslashes
  int first_comma = -1;
  int second_comma = -1;
  std::wstring server;
  std::wstring driver;
};
DescriptionParts SplitDescription(std::wstring_view description);

// A printer of the spooler's connections.
PrinterRow ConnectionRow(std::wstring_view name, std::wstring_view comment, const DescriptionParts& parts);

// Answers request 7000 from what responseData holds: its "printers" as they
// are (7300), or "no_printers_found" (7304) when there are none. Builds the
// response text into *out; 1, or 0 when only the error response (7600)
// could be built.
int AnswerPrinters(Json::Value& responseData, char** out);

}  // namespace hk::printers
