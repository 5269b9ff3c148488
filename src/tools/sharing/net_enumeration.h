// The entries of one NetApi enumeration (shares, sessions, open files) over as
// many calls as the server needs. MAX_PREFERRED_LENGTH normally brings the
// whole list at once, yet a server may still answer ERROR_MORE_DATA with part
// of it and a resume handle; the next call then goes on from there.
#pragma once
#include <windows.h>
#include <lm.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "tools/sharing/sharing_api.h"

namespace hk::sharing {

template <typename Entry>
class NetEnumeration {
 public:
  // NERR_Success, or the code of the call that failed (nothing is kept then).
  NET_API_STATUS status = NERR_Success;
  // Whether any call handed back a buffer.
  bool has_buffer() const { return !buffers_.empty(); }
  size_t size() const { return entries_.size(); }
  const Entry& operator[](size_t i) const { return *entries_[i]; }

  void Keep(unique_share_buffer buffer, DWORD count) {
    const Entry* first = static_cast<const Entry*>(buffer.get());
    for (DWORD i = 0; i < count; ++i) entries_.push_back(first + i);
    buffers_.push_back(std::move(buffer));
  }
  void Fail(NET_API_STATUS code) {
    status = code;
    entries_.clear();
    buffers_.clear();
  }

 private:
  std::vector<unique_share_buffer> buffers_;
  std::vector<const Entry*> entries_;
};

// call(LPBYTE* buffer, DWORD* entriesRead, DWORD* totalEntries) makes one
// enumeration call and keeps the resume handle itself.
template <typename Entry, typename Call>
NetEnumeration<Entry> EnumerateAll(Call call) {
  NetEnumeration<Entry> result;
  for (;;) {
    LPBYTE raw = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS status = call(&raw, &read, &total);
    unique_share_buffer buffer(raw);
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
      result.Fail(status);
      return result;
    }
    if (buffer) result.Keep(std::move(buffer), read);
    if (status == NERR_Success) return result;
    // More data, yet nothing fitted: going on would never end.
    if (read == 0) {
      result.Fail(status);
      return result;
    }
  }
}

}  // namespace hk::sharing
