#include "tools/processes/process_snapshot.h"

#include "infra/win_resource.h"

namespace hk::processes {

std::vector<PROCESSENTRY32W> TakeProcessSnapshot() {
  std::vector<PROCESSENTRY32W> entries;
  unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return entries;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace hk::processes
