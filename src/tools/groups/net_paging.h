// The resume-handle loop of the NetApi enumerations, written once: the call
// is repeated while it answers ERROR_MORE_DATA, and every buffer it hands out
// is freed with NetApiBufferFree.
#pragma once
#include <windows.h>
#include <lm.h>

#include "infra/win_resource_tools.h"

namespace hk::groups {

enum class PagingEnd {
  kComplete,    // the last call answered NERR_Success
  kFailed,      // a call answered another status (in status)
  kNullBuffer,  // a call reported entries without a buffer
};

struct PagingResult {
  PagingEnd end = PagingEnd::kComplete;
  NET_API_STATUS status = NERR_Success;
};

// call(LPBYTE* buffer, DWORD* read, Resume* resume) -> NET_API_STATUS;
// on_entry(const Entry&) for each entry, in order across the calls.
template <typename Entry, typename Resume, typename Call, typename OnEntry>
PagingResult ForEachEntry(Call call, OnEntry on_entry) {
  Resume resume = 0;
  for (;;) {
    LPBYTE raw = nullptr;
    DWORD read = 0;
    const NET_API_STATUS status = call(&raw, &read, &resume);
    const unique_netapi_buffer buffer(raw);
    if (status != NERR_Success && status != ERROR_MORE_DATA) return {PagingEnd::kFailed, status};
    if (read > 0 && !raw) return {PagingEnd::kNullBuffer, status};
    const Entry* entries = reinterpret_cast<const Entry*>(raw);
    for (DWORD i = 0; i < read; ++i) on_entry(entries[i]);
    // A page without entries cannot move the resume handle on.
    if (status == NERR_Success || read == 0) return {PagingEnd::kComplete, status};
  }
}

}  // namespace hk::groups
