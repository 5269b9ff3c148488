// The printer tool's plain part: status names, the row, the description split.
#include <gtest/gtest.h>
#include <json/value.h>

#include <string>
#include <vector>

#include "tools/printers/printer_render.h"

using hk::printers::PrinterRow;

TEST(PrinterNames, TableEdgesAndNeighbours) {
  struct Case {
    uint32_t value;
    const char* availability;
    const char* extended;
  };
  const std::vector<Case> cases = {{0, "", ""},
                                   {1, "Other", "Other"},
                                   {3, "Running/Full Power", "Idle"},
                                   {13, "Power Save - Unknown", "Processing"},
                                   {17, "Power Save - Warning", "I/O Active"},
                                   {18, "Paused", "Manual Feed"},
                                   {19, "Not Ready", ""},
                                   {21, "Quiesced", ""},
                                   {22, "", ""},
                                   {0xFFFFFFFF, "", ""}};
  for (const Case& c : cases) {
    EXPECT_STREQ(hk::printers::AvailabilityName(c.value), c.availability) << c.value;
    EXPECT_STREQ(hk::printers::ExtendedStatusName(c.value), c.extended) << c.value;
  }
}

TEST(PrinterRowJson, EveryFieldAsText) {
  PrinterRow row;
  row.availability = 3;
  row.caption = L"Caption";
  row.comment = L"Comment";
  row.description = L"Description";
  row.device_id = L"Device";
  row.driver_name = L"Driver";
  row.location = L"Floor 2";
  row.max_copies = 4294967295u;
  row.name = L"Dru\u00e7ker \u5370";  // arrives as UTF-8
  row.network = true;
  row.parameters = L"Params";
  row.port_name = L"LPT1:";
  row.printer_state = 1024;
  row.printer_status = 3;
  row.server_name = L"\\\\srv";
  row.shared = true;
  row.share_name = L"Share";
  row.status = L"OK";
  row.system_name = L"HOST";
  row.work_offline = true;
  row.print_processor = L"winprint";
  row.extended_status = 18;
  Json::Value expected(Json::objectValue);
  const char* pairs[][2] = {
      {"PRINTER_ID", "12"},
      {"PRINTER_AVAILABILITY", "Running/Full Power"},
      {"PRINTER_CAPTION", "Caption"},
      {"PRINTER_COMMENT", "Comment"},
      {"PRINTER_DESCRIPTION", "Description"},
      {"PRINTER_DEVICE_ID", "Device"},
      {"PRINTER_DRIVER_NAME", "Driver"},
      {"EXTENDED_PRINTER_STATUS", "Manual Feed"},
      {"PRINTER_LOCATION", "Floor 2"},
      {"MAX_COPIES", "4294967295"},
      {"PRINTER_NAME", "Dru\xC3\xA7ker \xE5\x8D\xB0"},
      {"PRINTER_NETWORK", "Yes"},
      {"PRINTER_PARAMETER", "Params"},
      {"PRINTER_PORT_NAME", "LPT1:"},
      {"PRINTER_STATE", "1024"},
      {"PRINTER_STATUS", "3"},
      {"PRINTER_SERVER_NAME", "\\\\srv"},
      {"PRINTER_SHARED", "Yes"},
      {"PRINTER_SHARE_NAME", "Share"},
      {"PRINTER_STATUS_VALUE", "OK"},
      {"PRINTER_SYSTEM_NAME", "HOST"},
      {"WORK_OFFLINE", "you can queue print jobs on the computer when the printer is offline"},
      {"PRINT_PROCESSOR_NAME", "winprint"},
  };
  for (const auto& [key, value] : pairs) expected[key] = value;
  EXPECT_EQ(hk::printers::PrinterRowJson(row, 12), expected);

  const Json::Value empty = hk::printers::PrinterRowJson(PrinterRow(), 1);
  EXPECT_EQ(empty["PRINTER_NETWORK"], "No");
  EXPECT_EQ(empty["PRINTER_SHARED"], "No");
  EXPECT_EQ(empty["MAX_COPIES"], "0");
  EXPECT_EQ(empty["WORK_OFFLINE"], "No,you cannot queue print jobs on the computer when the printer is offline");
}

TEST(PrinterDescription, SplitsServerAndDriver) {
  struct Case {
    const wchar_t* description;
    bool shared;
    int first, second;
    const wchar_t* server;
    const wchar_t* driver;
  };
  const std::vector<Case> cases = {
      {L"\\\\srv\\Laser,HP LaserJet,Floor 2", true, 11, 23, L"\\\\srv", L"HP LaserJet"},
      {L"", false, -1, -1, L"", L""},
      {L"no commas", false, -1, -1, L"", L""},
      {L"\\\\srv\\Laser,HP LaserJet", true, 11, -1, L"", L""},
      {L"name,drv,loc", false, 4, 8, L"name", L"drv"},
      {L",,", false, 0, 1, L"", L""},
      {L"\\\\a,b,c", true, 3, 5, L"\\\\a", L"b"},                         // the leading pair is no separator
      {L"\\\\s\\p,d,l\\x", true, 5, 7, L"\\\\s", L"d"},                   // after the second comma: not seen
      {L"\\\\s\\q\\p,d\\x,loc", true, 7, 11, L"\\\\s\\q\\p,d", L"d\\x"},  // the last one before it counts
  };
  for (const Case& c : cases) {
    const auto parts = hk::printers::SplitDescription(c.description);
    const std::string row(c.description, c.description + wcslen(c.description));
    EXPECT_EQ(parts.shared, c.shared) << row;
    EXPECT_EQ(parts.first_comma, c.first) << row;
    EXPECT_EQ(parts.second_comma, c.second) << row;
    EXPECT_EQ(parts.server, c.server) << row;
    EXPECT_EQ(parts.driver, c.driver) << row;
  }
}
