// Gathers the facts of one process from Windows.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/processes/process_facts.h"

namespace hk::processes {

// What one listing looks up once and reuses: the time zone, and the account
// names of the SIDs that many processes share.
struct ListingContext {
  ListingContext();
  std::optional<TIME_ZONE_INFORMATION> zone;
  std::map<std::vector<BYTE>, std::optional<std::wstring>> accounts;  // by SID bytes
};

ProcessFacts CollectProcessFacts(const PROCESSENTRY32W& entry, ListingContext& context);

// The "FileDescription" of a file's version resource: the first translation
// that carries one. Nothing when the file has none.
std::optional<std::wstring> ReadFileDescription(const std::wstring& path);
// The same, remembered from earlier listings while the file keeps its size
// and write time: reading a version resource costs milliseconds.
std::optional<std::wstring> FileDescriptionOf(const std::wstring& path);

}  // namespace hk::processes
