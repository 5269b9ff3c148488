// The printer tool's plain part: status names, the row, the description split.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cwchar>
#include <string>
#include <tuple>
#include <vector>

#include "tools/printers/printer_render.h"

TEST(PrinterNames, TableEdges) {
  const std::vector<std::tuple<uint32_t, const char*, const char*>> cases = {
      {0, "", ""},           {1, "Other", "Other"},         {13, "Power Save - Unknown", "Processing"},
      {19, "Not Ready", ""}, {18, "Paused", "Manual Feed"}, {21, "Quiesced", ""},
      {22, "", ""},          {0xFFFFFFFF, "", ""}};
  for (const auto& [value, availability, extended] : cases) {
    EXPECT_STREQ(hk::printers::AvailabilityName(value), availability) << value;
    EXPECT_STREQ(hk::printers::ExtendedStatusName(value), extended) << value;
  }
}

TEST(PrinterRowJson, EveryFieldAsText) {
  const hk::printers::PrinterRow row{.availability = 3,
                                     .caption = L"Cap",
                                     .comment = L"Com",
                                     .description = L"Desc",
                                     .device_id = L"Dev",
                                     .driver_name = L"Drv",
                                     .location = L"Loc",
                                     .max_copies = 4294967295u,
                                     .name = L"Dru\u00e7ker \u5370",
                                     .network = true,
                                     .parameters = L"Par",
                                     .port_name = L"LPT1:",
                                     .printer_state = 1024,
                                     .printer_status = 3,
                                     .server_name = L"Srv",
                                     .shared = true,
                                     .share_name = L"Shr",
                                     .status = L"OK",
                                     .system_name = L"Sys",
                                     .work_offline = true,
                                     .print_processor = L"winprint",
                                     .extended_status = 18};
  Json::Value expected;
  ASSERT_TRUE(Json::Reader().parse(R"({"PRINTER_ID":"12","PRINTER_AVAILABILITY":"Running/Full Power",
      "PRINTER_CAPTION":"Cap","PRINTER_COMMENT":"Com","PRINTER_DESCRIPTION":"Desc","PRINTER_DEVICE_ID":"Dev",
      "PRINTER_DRIVER_NAME":"Drv","EXTENDED_PRINTER_STATUS":"Manual Feed","PRINTER_LOCATION":"Loc",
      "MAX_COPIES":"4294967295","PRINTER_NAME":"Dru\u00e7ker \u5370","PRINTER_NETWORK":"Yes","PRINTER_PARAMETER":"Par",
      "PRINTER_PORT_NAME":"LPT1:","PRINTER_STATE":"1024","PRINTER_STATUS":"3","PRINTER_SERVER_NAME":"Srv",
      "PRINTER_SHARED":"Yes","PRINTER_SHARE_NAME":"Shr","PRINTER_STATUS_VALUE":"OK","PRINTER_SYSTEM_NAME":"Sys",
      "WORK_OFFLINE":"you can queue print jobs on the computer when the printer is offline",
      "PRINT_PROCESSOR_NAME":"winprint"})",
                                   expected));
  EXPECT_EQ(hk::printers::PrinterRowJson(row, 12), expected);
  const Json::Value empty = hk::printers::PrinterRowJson({}, 1);
  EXPECT_EQ(empty["PRINTER_NETWORK"], "No");
  EXPECT_EQ(empty["PRINTER_SHARED"], "No");
  EXPECT_EQ(empty["WORK_OFFLINE"], "No,you cannot queue print jobs on the computer when the printer is offline");
}

TEST(PrinterDescription, SplitsServerAndDriver) {
  struct Case {
    const wchar_t* description;
    bool shared;
    int first, second;
    const wchar_t *server, *driver;
  };
  const std::vector<Case> cases = {
      {L"\\\\srv\\Laser,HP LaserJet,Floor 2", true, 11, 23, L"\\\\srv", L"HP LaserJet"},
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
    EXPECT_EQ(std::tie(parts.shared, parts.first_comma, parts.second_comma), std::tie(c.shared, c.first, c.second))
        << row;
    EXPECT_EQ(parts.server, c.server) << row;
    EXPECT_EQ(parts.driver, c.driver) << row;
  }
}
