// Gathers the facts of one process from Windows.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "infra/win_resource.h"
#include "tools/processes/process_facts.h"

namespace hk::processes {

// What one listing looks up once and reuses: the time zone, and the account
// names of the SIDs that many processes share.
struct ListingContext {
  ListingContext();
  std::optional<TIME_ZONE_INFORMATION> zone;
  std::map<std::vector<BYTE>, std::optional<std::wstring>> accounts;  // by SID bytes
};

// The handle a listing queries a process with. Where the process grants
// memory reads, one handle serves the queries and the command line; that one
// is never inheritable, since a child started with inherited handles could
// read the process's memory. Otherwise the query handle alone, inheritable.
struct ListingHandle {
  unique_handle handle;
  bool canRead = false;
};
ListingHandle OpenForListing(DWORD processId);

// Logical processors in all groups. A 32-bit process sees at most 32 in
// GetSystemInfo, which would turn percentages on larger machines into 0.
unsigned ActiveProcessorCount();

ProcessFacts CollectProcessFacts(const PROCESSENTRY32W& entry, ListingContext& context);

// The "FileDescription" of a file's version resource: the first translation
// that carries one. Nothing when the file has none.
std::optional<std::wstring> ReadFileDescription(const std::wstring& path);
// The same, remembered from earlier listings while the file keeps its size
// and write time: reading a version resource costs milliseconds.
std::optional<std::wstring> FileDescriptionOf(const std::wstring& path);

}  // namespace hk::processes
