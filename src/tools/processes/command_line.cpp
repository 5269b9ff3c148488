// The command line of another process, read from its PEB. A 32-bit build on
// 64-bit Windows runs under WOW64 and reaches the 64-bit PEB through the
// NtWow64* functions; a 64-bit build reads a 32-bit target's own PEB.
#include <windows.h>

#include <cstdint>
#include <optional>

#include "infra/log.h"
#include "infra/win_resource.h"
#include "tools/processes/peb.h"
#include "tools/processes/process.h"

namespace hk::processes {
namespace {

constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessWow64Information = 26;

// PROCESS_BASIC_INFORMATION of the caller's pointer size, and of the 64-bit
// side as a WOW64 process sees it.
struct BasicInformation {
  void* exitStatus;
  void* pebBaseAddress;
  ULONG_PTR rest[4];
};
struct BasicInformation64 {
  uint64_t exitStatus;
  uint64_t pebBaseAddress;
  uint64_t rest[4];
};

using QueryInformationFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using ReadVirtualMemory64Fn = LONG(NTAPI*)(HANDLE, ULONG64, PVOID, ULONG64, PULONG64);

struct NtFunctions {
  QueryInformationFn queryInformation = nullptr;
  QueryInformationFn wow64QueryInformation64 = nullptr;
  ReadVirtualMemory64Fn wow64ReadVirtualMemory64 = nullptr;
};

template <typename Fn>
Fn resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(::GetProcAddress(module, name)));
}

const NtFunctions& nt() {
  static const NtFunctions functions = [] {
    NtFunctions f;
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
      f.queryInformation = resolve<QueryInformationFn>(ntdll, "NtQueryInformationProcess");
      f.wow64QueryInformation64 = resolve<QueryInformationFn>(ntdll, "NtWow64QueryInformationProcess64");
      f.wow64ReadVirtualMemory64 = resolve<ReadVirtualMemory64Fn>(ntdll, "NtWow64ReadVirtualMemory64");
    }
    return f;
  }();
  return functions;
}

bool is_wow64(HANDLE process) {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(process, &wow64) && wow64;
}

// Whether this program runs under WOW64 does not change while it runs.
bool this_program_is_wow64() {
  static const bool wow64 = is_wow64(::GetCurrentProcess());
  return wow64;
}

ReadMemoryFn native_reader(HANDLE process) {
  return [process](uint64_t address, void* buffer, size_t size, size_t* bytesRead) {
    *bytesRead = 0;
    if (address > UINTPTR_MAX) return false;
    SIZE_T got = 0;
    const BOOL ok =
        ::ReadProcessMemory(process, reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), buffer, size, &got);
    *bytesRead = got;
    return ok != FALSE;
  };
}

ReadMemoryFn wow64_reader(HANDLE process, ReadVirtualMemory64Fn read64) {
  return [process, read64](uint64_t address, void* buffer, size_t size, size_t* bytesRead) {
    ULONG64 got = 0;
    const LONG status = read64(process, address, buffer, size, &got);
    *bytesRead = static_cast<size_t>(got);
    return status >= 0;
  };
}

// The PEB of this program's own pointer size.
std::optional<std::wstring> read_native(HANDLE process) {
  if (!nt().queryInformation) return std::nullopt;
  BasicInformation info{};
  ULONG returned = 0;
  if (nt().queryInformation(process, kProcessBasicInformation, &info, sizeof info, &returned) < 0) {
    return std::nullopt;
  }
  const PebLayout& layout = sizeof(void*) == 8 ? kPeb64Layout : kPeb32Layout;
  return ReadCommandLineFromPeb(layout, reinterpret_cast<uintptr_t>(info.pebBaseAddress), native_reader(process));
}

// From a WOW64 program: the target's 64-bit PEB.
std::optional<std::wstring> read_through_wow64(HANDLE process) {
  const NtFunctions& f = nt();
  if (!f.wow64QueryInformation64 || !f.wow64ReadVirtualMemory64) return std::nullopt;
  BasicInformation64 info{};
  ULONG returned = 0;
  if (f.wow64QueryInformation64(process, kProcessBasicInformation, &info, sizeof info, &returned) < 0) {
    return std::nullopt;
  }
  return ReadCommandLineFromPeb(kPeb64Layout, info.pebBaseAddress, wow64_reader(process, f.wow64ReadVirtualMemory64));
}

// From a 64-bit program: the 32-bit PEB of a WOW64 target; 0 for a 64-bit one.
uint64_t wow64_peb_of_target(HANDLE process) {
  if (!nt().queryInformation) return 0;
  ULONG_PTR peb32 = 0;
  ULONG returned = 0;
  if (nt().queryInformation(process, kProcessWow64Information, &peb32, sizeof peb32, &returned) < 0) return 0;
  return peb32;
}

std::optional<std::wstring> read_command_line(HANDLE process) {
  if (this_program_is_wow64()) {
    if (auto text = read_through_wow64(process)) return text;
    // Without the WOW64 functions (Wine has no NtWow64QueryInformationProcess64)
    // only a 32-bit target's PEB is within reach.
    if (!is_wow64(process)) return std::nullopt;
    return read_native(process);
  }
  if (sizeof(void*) == 8) {
    if (const uint64_t peb32 = wow64_peb_of_target(process)) {
      if (auto text = ReadCommandLineFromPeb(kPeb32Layout, peb32, native_reader(process))) return text;
    }
  }
  return read_native(process);
}

}  // namespace

int Process::GetCommandLine(DWORD processId, std::wstring& out) {
  out.clear();
  unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process) return 0;
  return ReadCommandLine(process.get(), out);
}

int Process::ReadCommandLine(HANDLE process, std::wstring& out) {
  try {
    out.clear();
    std::optional<std::wstring> text = read_command_line(process);
    if (!text) return 0;
    out = std::move(*text);
    return 1;
  } catch (...) {
    WriteLog(L"Process::GetCommandLine:: error caught");
    out.clear();
    return 0;
  }
}

}  // namespace hk::processes
