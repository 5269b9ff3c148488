// The one way every WMI consumer runs a WQL query and walks its rows. Each
// consumer brings its query text, its log texts and a per-row callback:
//
//   const hk::wbem::QueryTexts texts{{L"...Failed to Enumerate...!\n"}, {L"...Next Failed\thres:%d, LastError:%d\n"},
//                                    {L"...pclsObj is NULL\tLastError:%d\n"}, {L"...Successfully...!\n"}};
//   wmi local;
//   hk::wbem::RunQuery(hk::wbem::Open(local), L"SELECT * FROM Win32_Printer", texts,
//                      {.pause_before_next = true}, [&](IWbemClassObject& row) { hk::wbem::Read<...>(row, L"Name"); });
//
// Property values are read with infra/wmi_variant.h.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

#include <cstddef>
#include <functional>

#include "infra/win_resource.h"
#include "infra/wmi.h"

namespace hk::wbem {

// A log line of a consumer: its text (null: not logged) and the level it is
// written at (2 WriteLog, 1 WriteLogLevel1, 0 WriteLogLevel0).
struct LogLine {
  const wchar_t* text = nullptr;
  int level = 2;
};

struct QueryTexts {
  LogLine enumerate_failed;  // ExecQuery failed; argument: GetLastError()
  LogLine next_failed;       // Next failed; arguments: its HRESULT, GetLastError()
  LogLine object_null;       // a row came back without its object; argument: GetLastError()
  LogLine finished;          // Next reported no more rows
};

struct QueryOptions {
  // Sleep(1) before each Next, as the inventory consumers do.
  bool pause_before_next = false;
  // A failed Next ends the walk (with next_failed). When false only the
  // count returned is looked at, as the local users tool does.
  bool stop_on_failed_next = true;
};

enum class QueryStatus {
  kNotConnected,  // no services connection: an earlier step failed; nothing logged here
  kQueryFailed,   // ExecQuery failed
  kNextFailed,    // the walk ended on a failed Next; rows before it were read
  kCompleted,     // Next reported no more rows
};

struct QueryResult {
  QueryStatus status = QueryStatus::kNotConnected;
  size_t rows = 0;  // objects handed to the callback
};

using RowCallback = std::function<void(IWbemClassObject& row)>;

// ExecQuery in "WQL", forward-only and returning immediately, no context.
HRESULT ExecQuery(IWbemServices& services, const wchar_t* wql, com_ptr<IEnumWbemClassObject>& enumerator);

// Next(WBEM_INFINITE, 1) until no row is returned. A row whose object is null
// is skipped (logged with object_null); every other row goes to on_row and is
// released after it. An exception from on_row ends the walk and propagates.
QueryResult WalkRows(IEnumWbemClassObject& enumerator, const QueryTexts& texts, const QueryOptions& options,
                     const RowCallback& on_row);

// The whole query on a connection from Open: ExecQuery, the walk, then the
// services connection, the locator and the enumerator are released in that
// order and COM is left. On a failed ExecQuery it logs enumerate_failed,
// releases both interfaces and leaves COM. The releases and the leave also
// happen when on_row throws. An empty connection gives kNotConnected.
QueryResult RunQuery(Connection connection, const wchar_t* wql, const QueryTexts& texts, const QueryOptions& options,
                     const RowCallback& on_row);

// Writes a consumer's line at its level; nothing for a null text.
void WriteLine(const LogLine& line, int first = 0, int second = 0);

}  // namespace hk::wbem
