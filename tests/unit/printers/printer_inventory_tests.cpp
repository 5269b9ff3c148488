// Request 7000 inside the library: WMI rows from the fake, print providers in
// Wine's real registry, connections from a fake spooler.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/messages.h"
#include "support/fake_wmi.h"
#include "tools/printers/PrinterDetails.h"
#include "tools/printers/printer_collect.h"
#include "wmi/wmi_test_support.h"

namespace {

constexpr const wchar_t* kQuery = L"SELECT * FROM Win32_Printer";
const std::wstring kProviders = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Providers";
using Names = std::vector<std::string>;
using hk::test::FakeRow;

// PRINTER_INFO_1W entries as the spooler lays them out: the structures, then
// their strings, in the caller's one buffer.
struct FakeSpooler {
  std::vector<std::vector<std::wstring>> entries;  // name, description, comment
  bool second_call_fails = false;
  int calls = 0;
  static inline FakeSpooler* current = nullptr;

  FakeSpooler() { current = this, hk::printers::g_spoolerApi.enum_printers = &Enum; }
  ~FakeSpooler() { hk::printers::g_spoolerApi.enum_printers = &::EnumPrintersW; }
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

class PrinterInventory : public hk::test::WmiLogTest {
 public:
  PrinterInventory() { Fresh(); }
  void Fresh() {
    fake_.reset(), fake_.emplace();
    spooler_.reset(), spooler_.emplace();
  }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProviders.c_str());  // Wine's prefix has none of its own
    WmiLogTest::TearDown();
  }
  // A key below Providers (created with its parents) with string values.
  void Key(const std::wstring& below, const std::vector<std::pair<const wchar_t*, std::wstring>>& values = {}) {
    for (const auto& [name, value] : values.empty() ? decltype(values){{nullptr, L""}} : values)
      ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kProviders + L"\\" + below).c_str(), name, REG_SZ, value.c_str(),
                                  static_cast<DWORD>(value.size() * 2 + 2)),
                ERROR_SUCCESS);
  }
  void RegistryPrinter(const std::wstring& provider, const std::wstring& printer) {
    Key(provider + L"\\Servers\\srv\\Printers\\" + printer + L"\\DsSpooler",
        {{L"printerName", printer}, {L"driverName", L"Reg Driver"}, {L"portName", L"IP_1"}});
  }
  static Json::Value Asking(const Json::Value& name) {
    Json::Value data;
    data["PrinterName"] = name;
    return data;
  }
  // Request 7000 through the dispatcher entry, on a COM thread of its own.
  Json::Value Request(Json::Value requestData = Asking("ALL_PRINTERS"), Json::Value responseData = {}) {
    char* text = nullptr;
    const auto com =
        hk::test::RunOnComThread([&] { hk::printers::DispatchRequest(7000, &requestData, &responseData, &text); });
    EXPECT_TRUE(com.outer_kept && com.nothing_left);
    EXPECT_TRUE(fake_->AllReleasedOnce()) << fake_->Accounting();
    Json::Value answer;
    EXPECT_TRUE(text && Json::Reader().parse(text, answer));
    hk::FreeText(text);
    EXPECT_EQ(answer["toolId"], 7);
    EXPECT_EQ(answer["responseId"], 0);
    return answer;
  }
  // The values of keys, each followed by "|".
  static std::string Fields(const Json::Value& row, std::initializer_list<const char*> keys) {
    std::string text;
    for (const char* key : keys) text += row[key].asString() + "|";
    return text;
  }
  // The listed names in order, checking the running numbers; none for 7304.
  static Names Listed(const Json::Value& answer) {
    const Json::Value& printers = answer["responseData"]["printers"];
    EXPECT_EQ(answer["responseCode"], printers.isArray() ? 7300 : 7304);
    if (!printers.isArray()) {
      EXPECT_EQ(printers, "no_printers_found");
    }
    Names names;
    for (Json::ArrayIndex i = 0; printers.isArray() && i < printers.size(); ++i) {
      EXPECT_EQ(printers[i]["PRINTER_ID"], std::to_string(i + 1));
      names.push_back(printers[i]["PRINTER_NAME"].asString());
    }
    return names;
  }

  std::optional<hk::test::FakeWmi> fake_;
  std::optional<FakeSpooler> spooler_;
};

TEST_F(PrinterInventory, WmiPropertiesInOrderAndWrongTypesAsEmpty) {
  FakeRow& typed = fake_->Results(kQuery).AddRow().Int32(L"Availability", 3).Text(L"Caption", L"cap");
  typed.Int32(L"MaxCopies", 9).Int32(L"ExtendedPrinterStatus", 3).Bool(L"Network", false);
  FakeRow& wrong = fake_->Results(kQuery).AddRow().Text(L"Availability", L"3").Int32(L"Caption", 5);
  wrong.Text(L"MaxCopies", L"9").Null(L"ExtendedPrinterStatus", CIM_UINT16).Int32(L"Network", 1);
  const Json::Value rows = Request()["responseData"]["printers"];
  const auto keys = {"PRINTER_AVAILABILITY", "PRINTER_CAPTION", "MAX_COPIES", "EXTENDED_PRINTER_STATUS",
                     "PRINTER_NETWORK"};
  EXPECT_EQ(Fields(rows[0], keys), "Running/Full Power|cap|9|Idle|No|");
  EXPECT_EQ(Fields(rows[1], keys), "||0||No|");
  std::wstring reads;
  for (size_t i = 0; i < 23 && i < fake_->property_reads().size(); ++i) reads += fake_->property_reads()[i] + L" ";
  EXPECT_EQ(reads,
            L"Availability Caption Comment Description DeviceID DriverName ExtendedPrinterStatus InstallDate Location "
            L"MaxCopies Name Network Parameters PortName PrinterState PrinterStatus ServerName Shared ShareName Status "
            L"SystemName WorkOffline PrintProcessor ");
}

TEST_F(PrinterInventory, SourcesFollowEachOtherWithRunningNumbers) {
  fake_->Results(kQuery).AddRow().Text(L"Name", L"Local").Bool(L"Network", false);
  RegistryPrinter(L"Test Provider", L"RegOne");
  Key(L"Test Provider\\Servers\\srv\\Printers\\NoSpooler");  // skipped
  RegistryPrinter(L"Test Provider", L"RegTwo");
  const wchar_t ports[] = L"IP_1\0IP_2\0";  // a multi-string: its items joined
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                    (kProviders + L"\\Test Provider\\Servers\\srv\\Printers\\RegTwo\\DsSpooler").c_str(), L"portName",
                    REG_MULTI_SZ, ports, sizeof ports);
  spooler_->entries = {{L"\\\\srv\\Laser", L"\\\\srv\\Laser,HP Universal,Floor 2", L"by the door"},
                       {L"Dru\u00e7ker \u5370", L"no commas here", L""}};
  const Json::Value answer = Request();
  EXPECT_EQ(Listed(answer), (Names{"Local", "RegOne", "RegTwo", "\\\\srv\\Laser", "Dru\xC3\xA7ker \xE5\x8D\xB0"}));
  const Json::Value& rows = answer["responseData"]["printers"];
  const auto keys = {"PRINTER_DEVICE_ID", "PRINTER_DRIVER_NAME", "PRINTER_PORT_NAME", "PRINTER_SERVER_NAME",
                     "PRINTER_COMMENT",   "PRINTER_NETWORK",     "PRINTER_SHARED"};
  EXPECT_EQ(Fields(rows[1], keys), "RegOne|Reg Driver|IP_1|||Yes|Yes|");
  EXPECT_EQ(rows[2]["PRINTER_PORT_NAME"], "IP_1,IP_2");
  EXPECT_EQ(Fields(rows[3], keys), "\\\\srv\\Laser|HP Universal||\\\\srv|by the door|Yes|Yes|");
  EXPECT_EQ(Fields(rows[4], keys), "Dru\xC3\xA7ker \xE5\x8D\xB0|||||Yes|No|");
  for (const char* line : {"FillRegPrinterData ResultCount : 2", "*******@@@ End of GetRegPrinterData @@@*******",
                           "Number of printers: 2 ", "NETWORK PRINTER : 2", "\tcount-start : 11", "\tcount-end : 24",
                           "\tServer Name : %S", "\tcount-end : -1"})
    EXPECT_TRUE(Logged(line)) << line << "\n" << Log();
  EXPECT_EQ(Count("*******@@@ End of FillRegPrinterData @@@*******"), 2);
}

TEST_F(PrinterInventory, OnlyAllPrintersInAnyCaseRunsTheInventory) {
  fake_->Results(kQuery).AddRow().Text(L"Name", L"Local");
  for (const Json::Value& name : {Json::Value("all_Printers"), Json::Value("ALL_PRINTERS "), Json::Value("Local"),
                                  Json::Value(5), Json::Value()}) {
    const size_t before = fake_->queries().size();
    const bool all = name == "all_Printers";
    EXPECT_EQ(Listed(Request(Asking(name))), all ? Names{"Local"} : Names{}) << name;
    EXPECT_EQ(fake_->queries().size() - before, all ? 1u : 0u) << name;
  }
  Json::Value held;  // another name answers with what the response data holds
  held["printers"][0]["PRINTER_NAME"] = "held";
  EXPECT_EQ(Request(Asking("x"), held)["responseData"], held);
}

TEST_F(PrinterInventory, EachSourceAloneAndItsFailures) {
  using T = PrinterInventory;
  struct Case {
    const char* name;
    int spooler_calls;
    const char* line;
    Names listed;
    void (*arrange)(T&);
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"nothing anywhere", 1, "GetRegPrinterData :: reg.Open Failed due to  errorcode : 2 from the location %ws\n",
       {}, [](T&) {}},
      {"WMI network printer skips the registry, not the connections", 2, "Number of printers: 1 \n",
       {"\\\\srv\\Laser", "\\\\srv\\Laser"}, [](T& t) {
         t.fake_->Results(kQuery).AddRow().Text(L"Name", L"\\\\srv\\Laser").Bool(L"Network", true);
         t.RegistryPrinter(L"Test Provider", L"RegOne");
         t.spooler_->entries = {{L"\\\\srv\\Laser", L"\\\\srv\\Laser,HP,", L""}}; }},
      {"provider without servers ends the registry walk", 1,
       "GetRegPrinterData :: reg.Open Failed due to  errorcode : 2 from the location "
       "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Providers\\A Provider\\Servers\\\n",
       {}, [](T& t) { t.Key(L"A Provider"), t.RegistryPrinter(L"B Provider", L"Unreached"); }},
      {"failed query consults nothing else", 0, "PrinterDetails::GetPrinterDetails() Failed to Enumerate...",
       {}, [](T& t) { t.fake_->Results(kQuery).FailExecQuery(), t.RegistryPrinter(L"Test Provider", L"RegOne"); }},
      {"no WMI connection consults nothing else", 0, "Failed(ConnectServer) in -> ||wmi::connect||",
       {}, [](T& t) { t.fake_->Fail(hk::test::FakeWmiStep::kConnectServer); }},
      {"second spooler call fails", 2, "GetAllNetworkSharedPrinters -> EnumPrinters:2 failed\n",
       {"Local"}, [](T& t) {
         t.fake_->Results(kQuery).AddRow().Text(L"Name", L"Local");
         t.spooler_->entries = {{L"Unreached", L"", L""}};
         t.spooler_->second_call_fails = true; }},
      {"exception in a WMI row keeps the rows before it", 0,
       "PrinterDetails::getPrinterDetails() Exception occured ...!\n",
       {"Local"}, [](T& t) {
         t.fake_->Results(kQuery).AddRow().Text(L"Name", L"Local");
         t.fake_->Results(kQuery).AddRow().ThrowOnGet(L"Comment"); }},
  };
  // clang-format on
  for (const Case& c : cases) {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProviders.c_str());
    Fresh(), log_.emplace();
    c.arrange(*this);
    EXPECT_EQ(Listed(Request()), c.listed) << c.name;
    EXPECT_EQ(spooler_->calls, c.spooler_calls) << c.name;
    EXPECT_TRUE(log_->contains(c.line)) << c.name << "\n" << Log();
  }
}

}  // namespace
