#include "tools/printers/printer_collect.h"

#include <winspool.h>

#include <algorithm>
#include <string>

#include "infra/log.h"
#include "infra/sized_buffer.h"
#include "infra/win_resource.h"
#include "infra/wmi_variant.h"
#include "tools/printers/PrinterDetails.h"

namespace hk::printers {

SpoolerApi g_spoolerApi = {&::EnumPrintersW};

namespace {

std::wstring Text(IWbemClassObject& row, const wchar_t* name) {
  return wbem::Read<std::wstring>(row, name).value_or(std::wstring());
}

}  // namespace

PrinterRow ReadWmiPrinter(IWbemClassObject& row) {
  PrinterRow printer;
  printer.availability = wbem::Read<uint16_t>(row, L"Availability").value_or(0);
  printer.caption = Text(row, L"Caption");
  printer.comment = Text(row, L"Comment");
  printer.description = Text(row, L"Description");
  printer.device_id = Text(row, L"DeviceID");
  printer.driver_name = Text(row, L"DriverName");
  printer.extended_status = wbem::Read<uint32_t>(row, L"ExtendedPrinterStatus").value_or(0);
  (void)Text(row, L"InstallDate");
  printer.location = Text(row, L"Location");
  printer.max_copies = wbem::Read<uint32_t>(row, L"MaxCopies").value_or(0);
  printer.name = Text(row, L"Name");
  printer.network = wbem::Read<bool>(row, L"Network").value_or(false);
  printer.parameters = Text(row, L"Parameters");
  printer.port_name = Text(row, L"PortName");
  printer.printer_state = wbem::Read<uint32_t>(row, L"PrinterState").value_or(0);
  printer.printer_status = wbem::Read<uint16_t>(row, L"PrinterStatus").value_or(0);
  printer.server_name = Text(row, L"ServerName");
  printer.shared = wbem::Read<bool>(row, L"Shared").value_or(false);
  printer.share_name = Text(row, L"ShareName");
  printer.status = Text(row, L"Status");
  printer.system_name = Text(row, L"SystemName");
  printer.work_offline = wbem::Read<bool>(row, L"WorkOffline").value_or(false);
  printer.print_processor = Text(row, L"PrintProcessor");
  return printer;
}

}  // namespace hk::printers

namespace {

using hk::printers::PrinterRow;

constexpr const wchar_t* kProviders = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Providers\\";
// Every key of the walk is opened for reading and writing (0x2001F): a caller
// without write access to the print keys lists no registry printers.
constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;
constexpr DWORD kNameLength = 256;

constexpr const wchar_t* kOpenFailed =
    L"GetRegPrinterData :: reg.Open Failed due to  errorcode : %d from the location %ws\n";

LSTATUS Open(HKEY parent, const std::wstring& path, hk::unique_hkey& key) {
  return ::RegOpenKeyExW(parent, path.c_str(), 0, kAccess, key.put());
}

LSTATUS SubkeyName(HKEY key, DWORD index, std::wstring& name) {
  wchar_t buffer[kNameLength];
  DWORD length = kNameLength;
  const LSTATUS status = ::RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) name.assign(buffer, length);
  return status;
}

// A string value as text; the items of a multi-string joined by commas, as
// the spooler lists several ports. "" when it is missing or not text.
std::wstring StringValue(HKEY key, const wchar_t* name) {
  DWORD type = REG_NONE;
  DWORD used = 0;
  const auto data = hk::FillGrowing(256, [&](BYTE* buffer, DWORD size, DWORD* needed) {
    DWORD bytes = size;
    const LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, buffer, &bytes);
    if (status == ERROR_SUCCESS && buffer) return used = bytes, true;
    *needed = status == ERROR_SUCCESS || status == ERROR_MORE_DATA ? bytes : 0;
    return false;
  });
  if (!data || (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) return std::wstring();
  std::wstring text(reinterpret_cast<const wchar_t*>(data->data()), used / sizeof(wchar_t));
  if (type != REG_MULTI_SZ) return text.substr(0, text.find(L'\0'));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  std::replace(text.begin(), text.end(), L'\0', L',');
  return text;
}

}  // namespace

void CInvWMIClassFetch::GetRegPrinterData(PrinterDetails& inventory) {
  WriteLogLevel1(L"*******@@@ Inside GetRegPrinterData @@@*******\n");
  try {
    hk::unique_hkey providers;
    LSTATUS status = Open(HKEY_LOCAL_MACHINE, kProviders, providers);
    if (status != ERROR_SUCCESS) {
      WriteLogLevel1(kOpenFailed, status, kProviders);
      return;
    }
    std::wstring provider;
    for (DWORD p = 0; (status = SubkeyName(providers.get(), p, provider)) != ERROR_NO_MORE_ITEMS; ++p) {
      if (status != ERROR_SUCCESS) {
        WriteLogLevel1(L"GetRegPrinterData :: reg.EnumKey Failed due to error: %d index : %d from the location %ws\n",
                       status, p, kProviders);
        return;
      }
      const std::wstring serversPath = provider + L"\\Servers\\";
      hk::unique_hkey servers;
      if ((status = Open(providers.get(), serversPath, servers)) != ERROR_SUCCESS) {
        WriteLogLevel1(L"GetRegPrinterData :: reg.Open Failed due to  errorcode : %d from the location %s\n", status,
                       (kProviders + serversPath).c_str());
        return;
      }
      std::wstring server;
      for (DWORD s = 0; (status = SubkeyName(servers.get(), s, server)) != ERROR_NO_MORE_ITEMS; ++s) {
        const std::wstring location = kProviders + serversPath + server;
        if (status != ERROR_SUCCESS) {
          WriteLogLevel1(L"GetRegPrinterData :: reg.EnumKey Failed due to error: %d index : %d from the location %ws\n",
                         status, s, location.c_str());
          return;
        }
        hk::unique_hkey printers;
        if ((status = Open(servers.get(), server + L"\\Printers\\", printers)) != ERROR_SUCCESS) {
          WriteLogLevel1(kOpenFailed, status, location.c_str());
          return;
        }
        DWORD count = 0;
        status = ::RegQueryInfoKeyW(printers.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
          WriteLogLevel1(L"GetRegPrinterData :: RegQueryInfoKey Failed due to  errorcode : %d from the location %ws\n",
                         status, location.c_str());
          return;
        }
        for (DWORD k = 0; k < count; ++k) {
          std::wstring name;
          if ((status = SubkeyName(printers.get(), k, name)) != ERROR_SUCCESS) {
            WriteLogLevel1(L"GetRegPrinterData :: EnumKey Failed due to  errorcode : %d from the location %ws\n",
                           status, location.c_str());
            continue;
          }
          WriteLogLevel1(L"FillRegPrinterData ResultCount : %d\n", k);
          FillRegPrinterData(printers.get(), name.c_str(), inventory);
        }
      }
    }
    WriteLogLevel1(L"*******@@@ End of GetRegPrinterData @@@*******\n");
  } catch (...) {
    WriteLogLevel1(L"error caught in CInvWMIClassFetch::GetRegPrinterData\n");
  }
}

void CInvWMIClassFetch::FillRegPrinterData(HKEY printers, const wchar_t* name, PrinterDetails& inventory) {
  WriteLogLevel1(L"*******@@@ Inside FillRegPrinterData @@@*******\n");
  try {
    hk::unique_hkey printer, spooler;
    if (Open(printers, name, printer) != ERROR_SUCCESS || Open(printer.get(), L"DsSpooler", spooler) != ERROR_SUCCESS)
      return;
    PrinterRow row;
    row.comment = StringValue(spooler.get(), L"description");
    row.name = StringValue(spooler.get(), L"printerName");
    row.device_id = row.name;
    row.driver_name = StringValue(spooler.get(), L"driverName");
    row.location = StringValue(spooler.get(), L"location");
    row.port_name = StringValue(spooler.get(), L"portName");
    row.server_name = StringValue(spooler.get(), L"serverName");
    row.network = true;
    row.shared = true;
    inventory.Append(row);
    WriteLogLevel1(L"*******@@@ End of FillRegPrinterData @@@*******\n");
  } catch (...) {
    WriteLogLevel1(L"error caught in CInvWMIClassFetch::FillRegPrinterData\n");
  }
}

void CInvWMIClassFetch::GetAllNetworkSharedPrinters(PrinterDetails& inventory) {
  WriteLogLevel1(L"*******@@@ Inside GetAllNetworkSharedPrinters @@@*******\n");
  try {
    const auto enumerate = hk::printers::g_spoolerApi.enum_printers;
    DWORD needed = 0;
    DWORD returned = 0;
    if (enumerate(PRINTER_ENUM_CONNECTIONS, nullptr, 1, nullptr, 0, &needed, &returned)) {
      WriteLogLevel1(L"GetAllNetworkSharedPrinters -> EnumPrinters:1 failed. Error : %d\n", ::GetLastError());
      return;
    }
    const hk::unique_hlocal buffer(::LocalAlloc(LPTR, needed));
    if (!buffer) {
      WriteLogLevel1(L"GetAllNetworkSharedPrinters -> EnumPrinters:1 failed\n");
      return;
    }
    const DWORD size = needed;
    if (!enumerate(PRINTER_ENUM_CONNECTIONS, nullptr, 1, static_cast<LPBYTE>(buffer.get()), size, &needed, &returned)) {
      WriteLogLevel1(L"GetAllNetworkSharedPrinters -> EnumPrinters:2 failed\n");
      return;
    }
    WriteLogLevel1(L"Number of printers: %d \n", returned);
    // Never past the buffer, whatever count came back.
    returned = std::min<DWORD>(returned, size / sizeof(PRINTER_INFO_1W));
    const auto* entries = static_cast<const PRINTER_INFO_1W*>(buffer.get());
    for (DWORD i = 0; i < returned; ++i) {
      WriteLogLevel1(L"NETWORK PRINTER : %d\n", i + 1);
      WriteLogLevel1(L"********************\n");
      const PRINTER_INFO_1W& entry = entries[i];
      const hk::printers::DescriptionParts parts = GetPrinterDriverInfo(entry.pDescription);
      inventory.Append(
          hk::printers::ConnectionRow(entry.pName ? entry.pName : L"", entry.pComment ? entry.pComment : L"", parts));
    }
    WriteLogLevel1(L"*******@@@ End of GetAllNetworkSharedPrinters @@@*******\n");
  } catch (...) {
    WriteLogLevel1(L"error caught in CInvWMIClassFetch::GetAllNetworkSharedPrinters\n");
  }
}

hk::printers::DescriptionParts CInvWMIClassFetch::GetPrinterDriverInfo(const wchar_t* description) {
  WriteLogLevel1(L"*******@@@ Inside GetPrinterDriverInfo @@@*******\n");
  try {
    hk::printers::DescriptionParts parts = hk::printers::SplitDescription(description ? description : L"");
    WriteLogLevel1(L"\tcount-start : %d\n", parts.first_comma);
    WriteLogLevel1(L"\tcount-end : %d\n", parts.second_comma);
    if (parts.second_comma >= 0) {
      WriteLogLevel1(L"\tServer Name : %S\n", parts.server.c_str());
      WriteLogLevel1(L"\tDriver Name : %S\n", parts.driver.c_str());
    }
    WriteLogLevel1(L"*******@@@ End of GetPrinterDriverInfo @@@*******\n");
    return parts;
  } catch (...) {
    WriteLogLevel1(L"error caught in CInvWMIClassFetch::GetPrinterDriverInfo\n");
    return {};
  }
}
