// The printer tool's sources besides WMI's rows: the print providers'
// entries in the registry and the spooler's printer connections. Each source
// appends what it finds to the inventory and catches its own errors.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

#include "tools/printers/printer_render.h"

class PrinterDetails;

namespace hk::printers {

// The one spooler call of the tool, so tests can hand it connections Wine
// does not have. Defaults to EnumPrintersW.
using EnumPrintersFn = BOOL(WINAPI*)(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                                     LPDWORD returned);
struct SpoolerApi {
  EnumPrintersFn enum_printers;
};
extern SpoolerApi g_spoolerApi;

// One Win32_Printer row, properties read in the tool's fixed order
// ("InstallDate" is read and dropped). A property that is missing, null or of
// another type than expected reads as "" or 0.
PrinterRow ReadWmiPrinter(IWbemClassObject& row);

}  // namespace hk::printers

class CInvWMIClassFetch {
 public:
  // Providers\<provider>\Servers\<server>\Printers\<printer>\DsSpooler under
  // HKLM's print key. The walk stops at the first key it cannot open; a
  // printer whose keys are missing is skipped.
  static void GetRegPrinterData(PrinterDetails& inventory);
  // EnumPrintersW(PRINTER_ENUM_CONNECTIONS), level 1.
  static void GetAllNetworkSharedPrinters(PrinterDetails& inventory);
  // SplitDescription with the tool's log lines; empty parts after an error.
  static hk::printers::DescriptionParts GetPrinterDriverInfo(const wchar_t* description);

 private:
  static void FillRegPrinterData(HKEY printers, const wchar_t* name, PrinterDetails& inventory);
};
