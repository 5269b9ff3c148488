// Tool 7: the plain part (status names, the description split), and request
// 7000 inside the library with WMI rows from the fake, print providers in
// Wine's real registry and connections from a fake spooler.
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <tuple>
#include <utility>

#include "support/fake_wmi.h"
#include "support/formatter_request.h"
#include "tools/printers/PrinterDetails.h"
#include "tools/printers/printer_collect.h"

namespace {

using namespace hk::printers;
using namespace hk::test;
using Names = std::vector<std::string>;
constexpr const wchar_t* kQuery = L"SELECT * FROM Win32_Printer";
const std::wstring kProviders = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Providers";

TEST(PrinterRender, NameTableEdgesAndTheDescriptionSplit) {
  const std::tuple<uint32_t, const char*, const char*> names[] = {
      {0, "", ""},           {1, "Other", "Other"}, {18, "Paused", "Manual Feed"},
      {19, "Not Ready", ""}, {21, "Quiesced", ""},  {22, "", ""}};
  for (const auto& [value, availability, extended] : names) {
    EXPECT_STREQ(AvailabilityName(value), availability) << value;
    EXPECT_STREQ(ExtendedStatusName(value), extended) << value;
  }
  const std::tuple<const wchar_t*, bool, int, int, const wchar_t*, const wchar_t*> splits[] = {
      {L"\\\\srv\\Laser,HP LaserJet,Floor 2", true, 11, 23, L"\\\\srv", L"HP LaserJet"},
      {L"\\\\srv\\Laser,HP LaserJet", true, 11, -1, L"", L""},
      {L"name,drv,loc", false, 4, 8, L"name", L"drv"},
      {L"\\\\a,b,c", true, 3, 5, L"\\\\a", L"b"},                         // the leading pair is no separator
      {L"\\\\s\\q\\p,d\\x,loc", true, 7, 11, L"\\\\s\\q\\p,d", L"d\\x"},  // the last one before it counts
  };
  for (const auto& [description, shared, first, second, server, driver] : splits) {
    const DescriptionParts parts = SplitDescription(description);
    EXPECT_EQ(std::tie(parts.shared, parts.first_comma, parts.second_comma, parts.server, parts.driver),
              std::make_tuple(shared, first, second, std::wstring(server), std::wstring(driver)))
        << std::string(description, description + wcslen(description));
  }
}

// PRINTER_INFO_1W entries as the spooler lays them out: the structures, then
// their strings, in the caller's one buffer.
struct FakeSpooler {
  std::vector<std::vector<std::wstring>> entries;  // name, description, comment
  bool second_call_fails = false;
  int calls = 0;
  static inline FakeSpooler* current = nullptr;

  FakeSpooler() { current = this, g_spoolerApi.enum_printers = &Enum; }
  ~FakeSpooler() { g_spoolerApi.enum_printers = &::EnumPrintersW; }
  static BOOL WINAPI Enum(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                          LPDWORD returned) {
    FakeSpooler& self = *current;
    ++self.calls;
    *returned = 0;
    if (flags != PRINTER_ENUM_CONNECTIONS || name || level != 1) return ::SetLastError(ERROR_INVALID_PARAMETER), FALSE;
    // Without connections the first call succeeds, as Wine's spooler answers.
    if (self.entries.empty()) return *needed = 0, ::SetLastError(0), TRUE;
    *needed = static_cast<DWORD>(self.entries.size() * sizeof(PRINTER_INFO_1W));
    for (const auto& e : self.entries) *needed += static_cast<DWORD>((e[0].size() + e[1].size() + e[2].size() + 3) * 2);
    if (size < *needed) return ::SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    if (self.second_call_fails) return ::SetLastError(RPC_S_SERVER_UNAVAILABLE), FALSE;
    auto* info = reinterpret_cast<PRINTER_INFO_1W*>(buffer);
    auto* text = reinterpret_cast<wchar_t*>(info + self.entries.size());
    const auto place = [&text](const std::wstring& s) {
      return static_cast<wchar_t*>(std::memcpy(std::exchange(text, text + s.size() + 1), s.c_str(), s.size() * 2 + 2));
    };
    for (const auto& e : self.entries) *info++ = {0, place(e[1]), place(e[0]), place(e[2])};
    *returned = static_cast<DWORD>(self.entries.size());
    return TRUE;
  }
};

class PrinterInventory : public WmiLogTest {
 public:
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProviders.c_str());  // Wine's prefix has none of its own
    WmiLogTest::TearDown();
  }
  // A printer's DsSpooler key below a provider (made with its parents), or
  // just the key below Providers when printer is empty.
  void RegistryPrinter(const std::wstring& provider, const std::wstring& printer = L"", DWORD type = REG_SZ,
                       const std::wstring& port = L"IP_1") {
    const std::wstring key = kProviders + L"\\" + provider +
                             (printer.empty() ? L"" : L"\\Servers\\srv\\Printers\\" + printer + L"\\DsSpooler");
    for (const auto& [name, value, kind] : {std::tuple{L"printerName", printer, DWORD(REG_SZ)},
                                            {L"driverName", std::wstring(L"Reg Driver"), DWORD(REG_SZ)},
                                            {L"portName", port, type}}) {
      ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), printer.empty() ? nullptr : name, kind,
                                  value.c_str(), static_cast<DWORD>(value.size() * 2 + 2)),
                ERROR_SUCCESS);
    }
  }
  // The listed names in order, the running numbers checked; rows_ the rows.
  Names Request(const Json::Value& name = "ALL_PRINTERS", const Json::Value& responseData = {}) {
    Json::Value request;
    request["PrinterName"] = name;
    const Json::Value answer = AskTool(DispatchRequest, 7000, request, responseData);
    EXPECT_TRUE(fake_->AllReleasedOnce()) << fake_->Accounting();
    rows_ = answer["responseData"]["printers"];
    EXPECT_EQ(answer["responseCode"], rows_.isArray() ? 7300 : 7304);
    EXPECT_TRUE(rows_.isArray() || rows_ == "no_printers_found") << rows_;
    Names names;
    for (Json::ArrayIndex i = 0; rows_.isArray() && i < rows_.size(); ++i) {
      EXPECT_EQ(rows_[i]["PRINTER_ID"], std::to_string(i + 1));
      names.push_back(rows_[i]["PRINTER_NAME"].asString());
    }
    return names;
  }
  // The inventory's names, its spooler calls and a log entry; then every source afresh.
  void ExpectThenReset(const char* name, const Names& listed, int spoolerCalls, const char* line) {
    EXPECT_EQ(Request(), listed) << name;
    EXPECT_EQ(spooler_->calls, spoolerCalls) << name;
    EXPECT_TRUE(log_->contains(line)) << name << "\n" << Log();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProviders.c_str());
    fake_.emplace();
    spooler_.emplace();
    log_.emplace();
  }
  static std::string Fields(const Json::Value& row, std::initializer_list<const char*> keys) {
    std::string text;
    for (const char* key : keys) text += row[key].asString() + "|";
    return text;
  }

  std::optional<FakeWmi> fake_{std::in_place};
  std::optional<FakeSpooler> spooler_{std::in_place};
  Json::Value rows_;
};

TEST_F(PrinterInventory, WmiPropertiesAsText) {
  FakeRow& full = fake_->Results(kQuery).AddRow();  // each text its property's name
  for (const wchar_t* name :
       {L"Caption", L"Comment", L"Description", L"DeviceID", L"DriverName", L"Location", L"Name", L"Parameters",
        L"PortName", L"ServerName", L"ShareName", L"Status", L"SystemName", L"PrintProcessor"})
    full.Text(name, name);
  full.Int32(L"Availability", 3, CIM_UINT16).Int32(L"ExtendedPrinterStatus", 18, CIM_UINT16);
  full.Int32(L"MaxCopies", -1, CIM_UINT32).Int32(L"PrinterState", 1024, CIM_UINT32);
  full.Int32(L"PrinterStatus", 3, CIM_UINT16).Bool(L"Network", true).Bool(L"Shared", true).Bool(L"WorkOffline", true);
  fake_->Results(kQuery).AddRow();
  Request();
  EXPECT_EQ(rows_[0], Parse(R"({"PRINTER_ID":"1","PRINTER_AVAILABILITY":"Running/Full Power",
      "PRINTER_CAPTION":"Caption","PRINTER_COMMENT":"Comment","PRINTER_DESCRIPTION":"Description",
      "PRINTER_DEVICE_ID":"DeviceID","PRINTER_DRIVER_NAME":"DriverName","EXTENDED_PRINTER_STATUS":"Manual Feed",
      "PRINTER_LOCATION":"Location","MAX_COPIES":"4294967295","PRINTER_NAME":"Name","PRINTER_NETWORK":"Yes",
      "PRINTER_PARAMETER":"Parameters","PRINTER_PORT_NAME":"PortName","PRINTER_STATE":"1024","PRINTER_STATUS":"3",
      "PRINTER_SERVER_NAME":"ServerName","PRINTER_SHARED":"Yes","PRINTER_SHARE_NAME":"ShareName",
      "PRINTER_STATUS_VALUE":"Status","PRINTER_SYSTEM_NAME":"SystemName",
      "WORK_OFFLINE":"you can queue print jobs on the computer when the printer is offline",
      "PRINT_PROCESSOR_NAME":"PrintProcessor"})"));
  EXPECT_EQ(rows_[1]["WORK_OFFLINE"], "No,you cannot queue print jobs on the computer when the printer is offline");
}

TEST_F(PrinterInventory, SourcesFollowEachOtherWithRunningNumbers) {
  fake_->Results(kQuery).AddRow().Text(L"Name", L"Local").Bool(L"Network", false);
  RegistryPrinter(L"Test Provider", L"RegOne");
  RegistryPrinter(L"Test Provider\\Servers\\srv\\Printers\\NoSpooler");                        // skipped
  RegistryPrinter(L"Test Provider", L"RegTwo", REG_MULTI_SZ, std::wstring(L"IP_1\0IP_2", 9));  // its items joined
  spooler_->entries = {{L"\\\\srv\\Laser", L"\\\\srv\\Laser,HP Universal,Floor 2", L"by the door"},
                       {L"Dru\u00e7ker \u5370", L"no commas here", L""}};
  EXPECT_EQ(Request(), (Names{"Local", "RegOne", "RegTwo", "\\\\srv\\Laser", "Dru\xC3\xA7ker \xE5\x8D\xB0"}));
  const auto keys = {"PRINTER_DEVICE_ID", "PRINTER_DRIVER_NAME", "PRINTER_PORT_NAME", "PRINTER_SERVER_NAME",
                     "PRINTER_COMMENT",   "PRINTER_NETWORK",     "PRINTER_SHARED"};
  EXPECT_EQ(Fields(rows_[1], keys), "RegOne|Reg Driver|IP_1|||Yes|Yes|");
  EXPECT_EQ(rows_[2]["PRINTER_PORT_NAME"], "IP_1,IP_2");
  EXPECT_EQ(Fields(rows_[3], keys), "\\\\srv\\Laser|HP Universal||\\\\srv|by the door|Yes|Yes|");
  EXPECT_EQ(Fields(rows_[4], keys), "Dru\xC3\xA7ker \xE5\x8D\xB0|||||Yes|No|");
  for (const char* line : {"FillRegPrinterData ResultCount : 2", "NETWORK PRINTER : 2", "\tServer Name : %S"})
    EXPECT_TRUE(Logged(line)) << line << "\n" << Log();
}

TEST_F(PrinterInventory, OnlyAllPrintersInAnyCaseRunsTheInventory) {
  fake_->Results(kQuery).AddRow().Text(L"Name", L"Local");
  for (const Json::Value& name : {Json::Value("all_Printers"), Json::Value("ALL_PRINTERS "), Json::Value(5)}) {
    const bool all = name == "all_Printers";
    EXPECT_EQ(Request(name), all ? Names{"Local"} : Names{}) << name;
    EXPECT_EQ(fake_->queries().size(), 1u) << name;
  }
  // Another name answers with what the response data holds.
  EXPECT_EQ(Request("x", Parse(R"({"printers":[{"PRINTER_ID":"1","PRINTER_NAME":"held"}]})")), Names{"held"});
}

TEST_F(PrinterInventory, EachSourceAloneAndItsFailures) {
  fake_->Results(kQuery).AddRow().Text(L"Name", L"\\\\srv\\Laser").Bool(L"Network", true);
  RegistryPrinter(L"Test Provider", L"RegOne");
  spooler_->entries = {{L"\\\\srv\\Laser", L"\\\\srv\\Laser,HP,", L""}};
  ExpectThenReset("a WMI network printer skips the registry, not the connections", {"\\\\srv\\Laser", "\\\\srv\\Laser"},
                  2, "Number of printers: 1 \n");
  RegistryPrinter(L"A Provider");
  RegistryPrinter(L"B Provider", L"Unreached");
  ExpectThenReset("a provider without servers ends the registry walk", {}, 1,
                  "GetRegPrinterData :: reg.Open Failed due to  errorcode : 2 from the location "
                  "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Providers\\A Provider\\Servers\\\n");
  fake_->Results(kQuery).FailExecQuery();
  RegistryPrinter(L"Test Provider", L"RegOne");
  ExpectThenReset("a failed query consults nothing else", {}, 0,
                  "PrinterDetails::GetPrinterDetails() Failed to Enumerate...");
  fake_->Results(kQuery).AddRow().Text(L"Name", L"Local");
  spooler_->entries = {{L"Unreached", L"", L""}};
  spooler_->second_call_fails = true;
  ExpectThenReset("the second spooler call fails", {"Local"}, 2,
                  "GetAllNetworkSharedPrinters -> EnumPrinters:2 failed\n");
  fake_->Results(kQuery).AddRow().Text(L"Name", L"Local");
  fake_->Results(kQuery).AddRow().ThrowOnGet(L"Comment");
  ExpectThenReset("an exception in a WMI row keeps the rows before it", {"Local"}, 0,
                  "PrinterDetails::getPrinterDetails() Exception occured ...!\n");
}

}  // namespace
