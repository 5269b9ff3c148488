#include "infra/wmi_query.h"

#include <utility>

#include "infra/log.h"
#include "infra/wmi.h"

namespace hk::wbem {

void WriteLine(const LogLine& line, int first, int second) {
  if (!line.text) return;
  switch (line.level) {
    case 0:
      WriteLogLevel0(line.text, first, second);
      break;
    case 1:
      WriteLogLevel1(line.text, first, second);
      break;
    default:
      WriteLog(line.text, first, second);
      break;
  }
}

HRESULT ExecQuery(IWbemServices& services, const wchar_t* wql, com_ptr<IEnumWbemClassObject>& enumerator) {
  const unique_bstr language(::SysAllocString(L"WQL"));
  const unique_bstr query(::SysAllocString(wql));
  if (!language || !query) return E_OUTOFMEMORY;
  return services.ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                            enumerator.ReleaseAndGetAddressOf());
}

QueryResult WalkRows(IEnumWbemClassObject& enumerator, const QueryTexts& texts, const QueryOptions& options,
                     const RowCallback& on_row) {
  QueryResult result;
  for (;;) {
    if (options.pause_before_next) ::Sleep(1);
    com_ptr<IWbemClassObject> row;
    ULONG returned = 0;
    const HRESULT hr = enumerator.Next(WBEM_INFINITE, 1, row.ReleaseAndGetAddressOf(), &returned);
    if (returned == 0) {
      // A failed Next reports no row either; the count decides first.
      WriteLine(texts.finished);
      result.status = QueryStatus::kCompleted;
      return result;
    }
    if (options.stop_on_failed_next && FAILED(hr)) {
      WriteLine(texts.next_failed, static_cast<int>(hr), static_cast<int>(::GetLastError()));
      result.status = QueryStatus::kNextFailed;
      return result;
    }
    if (!row) {
      WriteLine(texts.object_null, static_cast<int>(::GetLastError()));
      continue;
    }
    ++result.rows;
    on_row(*row.Get());
  }
}

namespace {

// Ends a query whichever way it ends.
struct QueryEnd {
  Connection& connection;
  com_ptr<IEnumWbemClassObject>& enumerator;
  ~QueryEnd() { connection.Close(std::move(enumerator)); }
};

}  // namespace

QueryResult RunQuery(Connection connection, const wchar_t* wql, const QueryTexts& texts, const QueryOptions& options,
                     const RowCallback& on_row) {
  QueryResult result;
  if (!connection) return result;
  com_ptr<IEnumWbemClassObject> enumerator;
  const QueryEnd end{connection, enumerator};
  const HRESULT hr = ExecQuery(*connection.services(), wql, enumerator);
  if (FAILED(hr) || !enumerator) {
    WriteLine(texts.enumerate_failed, static_cast<int>(::GetLastError()));
    result.status = QueryStatus::kQueryFailed;
    return result;
  }
  return WalkRows(*enumerator.Get(), texts, options, on_row);
}

}  // namespace hk::wbem
