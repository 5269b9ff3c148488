// Request 7000 end to end inside the library: WMI rows from the fake, print
// providers in Wine's real registry, connections from a fake spooler.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/messages.h"
#include "support/fake_wmi.h"
#include "tools/printers/PrinterDetails.h"
#include "tools/printers/printer_collect.h"
#include "wmi/wmi_test_support.h"

namespace {

using hk::test::FakeRow;

constexpr const wchar_t* kQuery = L"SELECT * FROM Win32_Printer";
constexpr const wchar_t* kPrint = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print";

// Lays PRINTER_INFO_1W entries out as the spooler does: the structures, then
// their strings, in the caller's one buffer.
struct FakeSpooler {
  struct Entry {
    std::wstring name, description, comment;
  };
  std::vector<Entry> entries;
  bool first_call_succeeds = false;  // what Wine's spooler does
  bool second_call_fails = false;
  int calls = 0;

  static inline FakeSpooler* current = nullptr;
  hk::printers::SpoolerApi previous = hk::printers::g_spoolerApi;
  FakeSpooler() {
    current = this;
    hk::printers::g_spoolerApi.enum_printers = &Enum;
  }
  ~FakeSpooler() { hk::printers::g_spoolerApi = previous; }

  static BOOL WINAPI Enum(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                          LPDWORD returned) {
    FakeSpooler& self = *current;
    ++self.calls;
    *returned = 0;
    if (flags != PRINTER_ENUM_CONNECTIONS || name || level != 1) return ::SetLastError(ERROR_INVALID_PARAMETER), FALSE;
    if (self.first_call_succeeds) return *needed = 0, ::SetLastError(0), TRUE;
    DWORD total = static_cast<DWORD>(self.entries.size() * sizeof(PRINTER_INFO_1W));
    for (const Entry& e : self.entries)
      total += static_cast<DWORD>((e.name.size() + e.description.size() + e.comment.size() + 3) * sizeof(wchar_t));
    *needed = total;
    if (!buffer || size < total) return ::SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    if (self.second_call_fails) return ::SetLastError(RPC_S_SERVER_UNAVAILABLE), FALSE;
    auto* info = reinterpret_cast<PRINTER_INFO_1W*>(buffer);
    auto* text = reinterpret_cast<wchar_t*>(info + self.entries.size());
    const auto place = [&text](const std::wstring& s) {
      wchar_t* at = text;
      std::memcpy(at, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
      text += s.size() + 1;
      return at;
    };
    for (const Entry& e : self.entries) *info++ = {0, place(e.description), place(e.name), place(e.comment)};
    *returned = static_cast<DWORD>(self.entries.size());
    return TRUE;
  }
};

class PrinterInventory : public hk::test::WmiLogTest {
 protected:
  PrinterInventory() { Fresh(); }
  // New fakes for the next request.
  void Fresh() {
    fake_.reset();
    fake_.emplace();
    spooler_.reset();
    spooler_.emplace();
  }
  void TearDown() override {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, it->c_str());
    WmiLogTest::TearDown();
  }

  // A key below the print key (created with its parents) and its values;
  // keys this test made are removed again.
  void Key(const std::wstring& below, std::vector<std::pair<const wchar_t*, std::wstring>> values = {}) {
    const std::wstring path = std::wstring(kPrint) + L"\\" + below;
    size_t from = std::wcslen(kPrint) + 1;
    for (size_t cut = path.find(L'\\', from);; cut = path.find(L'\\', cut + 1)) {
      const std::wstring part = path.substr(0, cut);
      HKEY probe = nullptr;
      if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, part.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
        ::RegCloseKey(probe);
      } else {
        created_.push_back(part);
      }
      if (cut == std::wstring::npos) break;
    }
    HKEY key = nullptr;
    ASSERT_EQ(
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    for (const auto& [name, value] : values)
      ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
  }

  static Json::Value AllPrinters(const char* name = "ALL_PRINTERS") {
    Json::Value data;
    data["PrinterName"] = name;
    return data;
  }
  // Request 7000 through the dispatcher entry, on a COM thread of its own.
  Json::Value Request(Json::Value requestData = AllPrinters(), Json::Value responseData = Json::Value()) {
    char* text = nullptr;
    const auto com = hk::test::RunOnComThread([&] { PrintersRequest(7000, &requestData, &responseData, &text); });
    EXPECT_TRUE(com.outer_kept && com.nothing_left);
    EXPECT_TRUE(fake_->AllReleasedOnce()) << fake_->Accounting();
    Json::Value answer;
    EXPECT_TRUE(text && Json::Reader().parse(text, answer));
    hk::FreeText(text);
    EXPECT_EQ(answer["toolId"], 7);
    EXPECT_EQ(answer["responseId"], 0);
    return answer;
  }
  // The names of the listed printers, in order; checks the running numbers.
  static std::vector<std::string> Names(const Json::Value& answer) {
    std::vector<std::string> names;
    const Json::Value& printers = answer["responseData"]["printers"];
    for (Json::ArrayIndex i = 0; i < printers.size(); ++i) {
      EXPECT_EQ(printers[i]["PRINTER_ID"], std::to_string(i + 1));
      names.push_back(printers[i]["PRINTER_NAME"].asString());
    }
    return names;
  }
  void RegistryPrinter(const std::wstring& provider, const std::wstring& printer) {
    Key(L"Providers\\" + provider + L"\\Servers\\srv\\Printers\\" + printer + L"\\DsSpooler",
        {{L"printerName", printer}, {L"driverName", L"Reg Driver"}, {L"portName", L"IP_1"}});
  }

  std::optional<hk::test::FakeWmi> fake_;
  std::optional<FakeSpooler> spooler_;
  std::vector<std::wstring> created_;
};

TEST_F(PrinterInventory, NothingAnywhereAnswersNoPrintersFound) {
  spooler_->first_call_succeeds = true;
  const Json::Value answer = Request();
  EXPECT_EQ(answer["responseCode"], 7304);
  EXPECT_EQ(answer["responseData"]["printers"], "no_printers_found");
  EXPECT_EQ(answer["isSuccess"], "true");
  // %ws is not the log's: it stays in the line and takes no argument.
  EXPECT_TRUE(Logged("GetRegPrinterData :: reg.Open Failed due to  errorcode : 2 from the location %ws")) << Log();
  EXPECT_TRUE(Logged("GetAllNetworkSharedPrinters -> EnumPrinters:1 failed. Error : 0"));
}

TEST_F(PrinterInventory, WmiPropertiesInOrderAndWrongTypesAsEmpty) {
  fake_->Results(kQuery)
      .AddRow()
      .Int32(L"Availability", 3, CIM_UINT16)
      .Text(L"Caption", L"cap")
      .Text(L"Name", L"Local")
      .Int32(L"MaxCopies", 9, CIM_UINT32)
      .Int32(L"ExtendedPrinterStatus", 3, CIM_UINT16)
      .Bool(L"WorkOffline", true)
      .Text(L"InstallDate", L"20240101000000.000000+000");
  fake_->Results(kQuery)
      .AddRow()
      .Text(L"Availability", L"3")
      .Int32(L"Caption", 5)
      .Null(L"Name", CIM_STRING)
      .Text(L"MaxCopies", L"9")
      .Int32(L"Network", 1)
      .Null(L"Shared", CIM_BOOLEAN);
  const Json::Value answer = Request();
  EXPECT_EQ(answer["responseCode"], 7300);
  const Json::Value& rows = answer["responseData"]["printers"];
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["PRINTER_AVAILABILITY"], "Running/Full Power");
  EXPECT_EQ(rows[0]["PRINTER_CAPTION"], "cap");
  EXPECT_EQ(rows[0]["MAX_COPIES"], "9");
  EXPECT_EQ(rows[0]["EXTENDED_PRINTER_STATUS"], "Idle");
  EXPECT_EQ(rows[0]["WORK_OFFLINE"], "you can queue print jobs on the computer when the printer is offline");
  for (const char* key : {"PRINTER_AVAILABILITY", "PRINTER_CAPTION", "PRINTER_NAME"})
    EXPECT_EQ(rows[1][key], "") << key;
  EXPECT_EQ(rows[1]["MAX_COPIES"], "0");
  EXPECT_EQ(rows[1]["PRINTER_NETWORK"], "No");
  const std::vector<std::wstring> order = {L"Availability",
                                           L"Caption",
                                           L"Comment",
                                           L"Description",
                                           L"DeviceID",
                                           L"DriverName",
                                           L"ExtendedPrinterStatus",
                                           L"InstallDate",
                                           L"Location",
                                           L"MaxCopies",
                                           L"Name",
                                           L"Network",
                                           L"Parameters",
                                           L"PortName",
                                           L"PrinterState",
                                           L"PrinterStatus",
                                           L"ServerName",
                                           L"Shared",
                                           L"ShareName",
                                           L"Status",
                                           L"SystemName",
                                           L"WorkOffline",
                                           L"PrintProcessor"};
  std::vector<std::wstring> reads = fake_->property_reads();
  ASSERT_EQ(reads.size(), 2 * order.size());
  reads.resize(order.size());
  EXPECT_EQ(reads, order);
}

TEST_F(PrinterInventory, SourcesFollowEachOtherWithRunningNumbers) {
  fake_->Results(kQuery).AddRow().Text(L"Name", L"Local").Bool(L"Network", false);
  RegistryPrinter(L"Test Provider", L"RegOne");
  Key(L"Providers\\Test Provider\\Servers\\srv\\Printers\\NoSpooler");  // skipped
  RegistryPrinter(L"Test Provider", L"RegTwo");
  spooler_->entries = {{L"\\\\srv\\Laser", L"\\\\srv\\Laser,HP Universal,Floor 2", L"by the door"},
                       {L"Dru\u00e7ker \u5370", L"no commas here", L""}};
  const Json::Value answer = Request();
  EXPECT_EQ(Names(answer),
            (std::vector<std::string>{"Local", "RegOne", "RegTwo", "\\\\srv\\Laser", "Dru\xC3\xA7ker \xE5\x8D\xB0"}));
  const Json::Value& rows = answer["responseData"]["printers"];
  EXPECT_EQ(rows[1]["PRINTER_DRIVER_NAME"], "Reg Driver");
  EXPECT_EQ(rows[1]["PRINTER_PORT_NAME"], "IP_1");
  EXPECT_EQ(rows[1]["PRINTER_DEVICE_ID"], "RegOne");
  EXPECT_EQ(rows[1]["PRINTER_SHARED"], "Yes");
  EXPECT_EQ(rows[3]["PRINTER_DRIVER_NAME"], "HP Universal");
  EXPECT_EQ(rows[3]["PRINTER_SERVER_NAME"], "\\\\srv");
  EXPECT_EQ(rows[3]["PRINTER_COMMENT"], "by the door");
  EXPECT_EQ(rows[3]["PRINTER_SHARED"], "Yes");
  EXPECT_EQ(rows[4]["PRINTER_DRIVER_NAME"], "");
  EXPECT_EQ(rows[4]["PRINTER_SERVER_NAME"], "");
  EXPECT_EQ(rows[4]["PRINTER_SHARED"], "No");
  EXPECT_EQ(rows[4]["PRINTER_NETWORK"], "Yes");
  for (const char* line :
       {"FillRegPrinterData ResultCount : 2", "*******@@@ End of GetRegPrinterData @@@*******",
        "Number of printers: 2 ", "NETWORK PRINTER : 2", "\tcount-start : 11", "\tcount-end : 24", "\tServer Name : %S",
        "\tcount-end : -1", "*******@@@ End of GetAllNetworkSharedPrinters @@@*******"})
    EXPECT_TRUE(Logged(line)) << line << "\n" << Log();
  EXPECT_EQ(Count("*******@@@ End of FillRegPrinterData @@@*******"), 2);
}

TEST_F(PrinterInventory, WmiNetworkPrinterSkipsTheRegistryNotTheConnections) {
  fake_->Results(kQuery).AddRow().Text(L"Name", L"\\\\srv\\Laser").Bool(L"Network", true);
  RegistryPrinter(L"Test Provider", L"RegOne");
  spooler_->entries = {{L"\\\\srv\\Laser", L"\\\\srv\\Laser,HP,", L""}};
  EXPECT_EQ(Names(Request()), (std::vector<std::string>{"\\\\srv\\Laser", "\\\\srv\\Laser"}));
  EXPECT_FALSE(Logged("*******@@@ Inside GetRegPrinterData @@@*******"));
}

TEST_F(PrinterInventory, ProviderWithoutServersEndsTheRegistryWalk) {
  Key(L"Providers\\A Provider");
  RegistryPrinter(L"B Provider", L"Unreached");
  EXPECT_EQ(Request()["responseCode"], 7304);
  EXPECT_TRUE(
      Logged("GetRegPrinterData :: reg.Open Failed due to  errorcode : 2 from the location "
             "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Providers\\A Provider\\Servers\\"))
      << Log();
}

TEST_F(PrinterInventory, OnlyAllPrintersInAnyCaseRunsTheInventory) {
  fake_->Results(kQuery).AddRow().Text(L"Name", L"Local");
  Json::Value number;
  number["PrinterName"] = 5;
  const std::vector<std::pair<Json::Value, int>> cases = {{AllPrinters("all_Printers"), 7300},
                                                          {AllPrinters("ALL_PRINTERS "), 7304},
                                                          {AllPrinters("Local"), 7304},
                                                          {number, 7304},
                                                          {Json::Value(), 7304}};
  for (const auto& [data, code] : cases) {
    const size_t before = fake_->queries().size();
    const Json::Value answer = Request(data);
    EXPECT_EQ(answer["responseCode"], code) << data;
    EXPECT_EQ(fake_->queries().size() - before, code == 7300 ? 1u : 0u) << data;
  }
  // Another name answers with what the response data already holds.
  Json::Value held;
  held["printers"][0]["PRINTER_NAME"] = "held";
  EXPECT_EQ(Request(AllPrinters("x"), held)["responseData"], held);
}

TEST_F(PrinterInventory, FailuresKeepWhatWasRead) {
  struct Case {
    const char* name;
    void (*arrange)(hk::test::FakeWmi&, FakeSpooler&);
    int code;
    int spooler_calls;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"failed query consults nothing else", [](auto& w, auto&) { w.Results(kQuery).FailExecQuery(); }, 7304, 0,
       "PrinterDetails::GetPrinterDetails() Failed to Enumerate..."},
      {"no WMI connection consults nothing else", [](auto& w, auto&) { w.Fail(hk::test::FakeWmiStep::kConnectServer); },
       7304, 0, "Failed(ConnectServer) in -> ||wmi::connect||"},
      {"second spooler call fails",
       [](auto& w, auto& s) {
         w.Results(kQuery).AddRow().Text(L"Name", L"Local");
         s.second_call_fails = true;
       },
       7300, 2, "GetAllNetworkSharedPrinters -> EnumPrinters:2 failed"},
      {"exception in a WMI row",
       [](auto& w, auto&) {
         w.Results(kQuery).AddRow().Text(L"Name", L"Local");
         w.Results(kQuery).AddRow().ThrowOnGet(L"Comment");
       },
       7300, 0, "PrinterDetails::getPrinterDetails() Exception occured ...!"},
  };
  for (const Case& c : cases) {
    Fresh();
    log_.emplace();
    c.arrange(*fake_, *spooler_);
    const Json::Value answer = Request();
    EXPECT_EQ(answer["responseCode"], c.code) << c.name;
    EXPECT_EQ(spooler_->calls, c.spooler_calls) << c.name;
    EXPECT_TRUE(log_->contains(c.line)) << c.name << "\n" << Log();
  }
}

}  // namespace
