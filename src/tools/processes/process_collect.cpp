#include "tools/processes/process_collect.h"

#include <windows.h>
#include <psapi.h>

#include <cwchar>

#include "infra/log.h"
#include "infra/win_resource.h"
#include "tools/processes/process.h"
#include "infra/sized_buffer.h"
#include "infra/win_time.h"

namespace hk::processes {
namespace {

constexpr DWORD kQueryAccess = PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD kImagePathChars = 260;
constexpr DWORD kAccountChars = 256;


std::optional<std::wstring> image_path(HANDLE process) {
  wchar_t path[kImagePathChars];
  DWORD chars = kImagePathChars;
  if (!::QueryFullProcessImageNameW(process, 0, path, &chars)) return std::nullopt;
  return std::wstring(path, chars);
}

std::optional<SYSTEMTIME> local_time(const FILETIME& time, const ListingContext& context) {
  SYSTEMTIME universal{}, local{};
  if (!::FileTimeToSystemTime(&time, &universal)) return std::nullopt;
  TIME_ZONE_INFORMATION zone = context.zone.value_or(TIME_ZONE_INFORMATION{});
  if (!::SystemTimeToTzSpecificLocalTime(context.zone ? &zone : nullptr, &universal, &local)) return std::nullopt;
  return local;
}

std::optional<std::wstring> account_name(PSID sid) {
  wchar_t name[kAccountChars];
  wchar_t domain[kAccountChars];
  DWORD nameChars = kAccountChars;
  DWORD domainChars = kAccountChars;
  SID_NAME_USE use;
  if (::LookupAccountSidW(nullptr, sid, name, &nameChars, domain, &domainChars, &use)) return std::wstring(name);
  if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER) WriteLog(L"Process::insufficent buffer");
  return std::nullopt;
}

std::optional<std::wstring> owner_name(HANDLE process, ListingContext& context) {
  unique_handle token;
  if (!::OpenProcessToken(process, TOKEN_QUERY, token.put())) return std::nullopt;
  const auto user = FillGrowing(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE, [&](BYTE* buffer, DWORD size, DWORD* needed) {
    return ::GetTokenInformation(token.get(), TokenUser, buffer, size, needed) != FALSE;
  });
  if (!user) {
    WriteLog(L"Process :: Some Error Occured in tokenifo %d", static_cast<int>(::GetLastError()));
    return std::nullopt;
  }
  PSID sid = reinterpret_cast<const TOKEN_USER*>(user->data())->User.Sid;
  if (!sid || !::IsValidSid(sid)) return std::nullopt;
  const auto* sidBytes = static_cast<const BYTE*>(sid);
  std::vector<BYTE> key(sidBytes, sidBytes + ::GetLengthSid(sid));
  auto known = context.accounts.find(key);
  if (known == context.accounts.end()) known = context.accounts.emplace(std::move(key), account_name(sid)).first;
  return known->second;
}

OpenedProcessFacts collect_opened(HANDLE process, ListingContext& context) {
  OpenedProcessFacts facts;
  DWORD exitCode = 0;
  facts.running = ::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;

  facts.path = image_path(process);
  if (facts.path) facts.description = FileDescriptionOf(*facts.path);

  FILETIME creation{}, exit{}, kernel{}, user{};
  if (::GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
    facts.creationLocalTime = local_time(creation, context);
    facts.kernelPlusUser100ns = FileTimeTicks(kernel) + FileTimeTicks(user);
  }

  PROCESS_MEMORY_COUNTERS memory{};
  if (::K32GetProcessMemoryInfo(process, &memory, sizeof memory)) facts.memory = memory;
  if (!::GetProcessHandleCount(process, &facts.handleCount)) facts.handleCount = 0;
  facts.priorityClass = ::GetPriorityClass(process);
  IO_COUNTERS io{};
  if (::GetProcessIoCounters(process, &io)) facts.io = io;
  facts.userName = owner_name(process, context);
  return facts;
}

}  // namespace

ListingContext::ListingContext() {
  TIME_ZONE_INFORMATION info{};
  if (::GetTimeZoneInformation(&info) != TIME_ZONE_ID_INVALID) zone = info;
}

ListingHandle OpenForListing(DWORD processId) {
  ListingHandle opened{unique_handle(::OpenProcess(kQueryAccess | PROCESS_VM_READ, FALSE, processId)), true};
  if (!opened.handle) opened = {unique_handle(::OpenProcess(kQueryAccess, TRUE, processId)), false};
  return opened;
}

unsigned ActiveProcessorCount() {
  const DWORD all = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  if (all != 0) return all;
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  return system.dwNumberOfProcessors;
}

ProcessFacts CollectProcessFacts(const PROCESSENTRY32W& entry, ListingContext& context) {
  ProcessFacts facts;
  facts.name.assign(entry.szExeFile, ::wcsnlen(entry.szExeFile, MAX_PATH));
  facts.processId = entry.th32ProcessID;
  facts.threadCount = entry.cntThreads;
  ListingHandle opened = OpenForListing(entry.th32ProcessID);
  const unique_handle& process = opened.handle;
  const bool canRead = opened.canRead;
  if (process) facts.opened = collect_opened(process.get(), context);
  DWORD session = 0;
  if (::ProcessIdToSessionId(entry.th32ProcessID, &session)) facts.sessionId = session;
  if (canRead) {
    Process::ReadCommandLine(process.get(), facts.commandLine);
  } else {
    Process::GetCommandLine(entry.th32ProcessID, facts.commandLine);
  }
  facts.cpu = Process::LookupCpuUsage(entry.th32ProcessID);
  return facts;
}

}  // namespace hk::processes
