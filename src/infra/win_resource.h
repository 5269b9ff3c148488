// One small family of owners for Windows resources. Each owner closes its
// value exactly once and keeps GetLastError() intact across the close, so the
// line after a scope exit still reports the error that mattered.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdint>
#include <utility>

namespace hk {

// Keeps GetLastError() across a scope: the owners' close calls, the log.
class last_error_keeper {
 public:
  last_error_keeper() noexcept : error_(::GetLastError()) {}
  last_error_keeper(const last_error_keeper&) = delete;
  last_error_keeper& operator=(const last_error_keeper&) = delete;
  ~last_error_keeper() { ::SetLastError(error_); }

 private:
  DWORD error_;
};

// InvalidBits is the "none" value as an integer: a pointer constant such as
// INVALID_HANDLE_VALUE cannot be a template argument.
template <typename T, auto Close, intptr_t InvalidBits = 0>
class unique_any {
  static T invalid() noexcept { return reinterpret_cast<T>(InvalidBits); }

 public:
  unique_any() noexcept = default;
  explicit unique_any(T value) noexcept : value_(value) {}
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : value_(std::exchange(other.value_, invalid())) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(std::exchange(other.value_, invalid()));
    return *this;
  }
  ~unique_any() { reset(); }

  T get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  void reset(T value = invalid()) noexcept {
    if (value_ != invalid()) {
      const last_error_keeper keep;
      Close(value_);
    }
    value_ = value;
  }
  [[nodiscard]] T release() noexcept { return std::exchange(value_, invalid()); }
  // For out-parameters: frees the old value first.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = invalid();
};

namespace detail {
inline void close_handle(HANDLE h) { ::CloseHandle(h); }
inline void close_sc(SC_HANDLE h) { ::CloseServiceHandle(h); }
inline void close_key(HKEY h) { ::RegCloseKey(h); }
inline void free_local(HLOCAL p) { ::LocalFree(p); }
inline void free_bstr(BSTR s) { ::SysFreeString(s); }
inline void free_library(HMODULE h) { ::FreeLibrary(h); }
}  // namespace detail

using unique_handle = unique_any<HANDLE, detail::close_handle>;
// Files and Toolhelp snapshots use INVALID_HANDLE_VALUE for "none".
using unique_hfile = unique_any<HANDLE, detail::close_handle, -1>;
using unique_schandle = unique_any<SC_HANDLE, detail::close_sc>;
using unique_hkey = unique_any<HKEY, detail::close_key>;
using unique_hlocal = unique_any<HLOCAL, detail::free_local>;
using unique_bstr = unique_any<BSTR, detail::free_bstr>;
using unique_hmodule = unique_any<HMODULE, detail::free_library>;
template <typename T>
using com_ptr = Microsoft::WRL::ComPtr<T>;

// A VARIANT that is cleared when it goes out of scope.
class unique_variant {
 public:
  unique_variant() noexcept { ::VariantInit(&v_); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { reset(); }
  void reset() noexcept {
    const last_error_keeper keep;
    ::VariantClear(&v_);
  }
  VARIANT* put() noexcept {
    reset();
    return &v_;
  }
  const VARIANT& get() const noexcept { return v_; }
  VARIANT* operator&() = delete;

 private:
  VARIANT v_;
};

// Balances a successful CoInitializeEx on this thread.
class com_uninitialize_guard {
 public:
  explicit com_uninitialize_guard(bool active) noexcept : active_(active) {}
  com_uninitialize_guard(const com_uninitialize_guard&) = delete;
  com_uninitialize_guard& operator=(const com_uninitialize_guard&) = delete;
  ~com_uninitialize_guard() {
    if (active_) ::CoUninitialize();
  }

 private:
  bool active_;
};

}  // namespace hk
