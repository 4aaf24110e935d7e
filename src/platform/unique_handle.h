// Move-only owners for the handles of the Windows API, after the Windows
// Implementation Libraries' unique_any: the handle is closed exactly once,
// when the owner goes out of scope, is reset or is assigned over. `Invalid`
// is a function that gives the type's "no handle" value (null for most,
// INVALID_HANDLE_VALUE for files and directory listings).
#pragma once

#include <windows.h>

#include <utility>

template <typename T, auto Close, T (*Invalid)()>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T value) : value_(value) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  T get() const { return value_; }
  bool valid() const { return value_ != Invalid(); }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without closing.
  T release() { return std::exchange(value_, Invalid()); }

  // Closes the current handle (if any) and takes `value`.
  void reset(T value = Invalid()) {
    T old = std::exchange(value_, value);
    if (old != Invalid())
      Close(old);
  }

  // For out-parameters: closes the current handle and returns the slot.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Invalid();
};

namespace handle_detail {
template <typename T>
constexpr T Null() {
  return nullptr;
}
inline HANDLE InvalidHandleValue() {
  return INVALID_HANDLE_VALUE;
}
inline void CloseKernelHandle(HANDLE h) {
  ::CloseHandle(h);
}
inline void CloseFind(HANDLE h) {
  ::FindClose(h);
}
inline void CloseKey(HKEY k) {
  ::RegCloseKey(k);
}
inline void FreeLib(HMODULE m) {
  ::FreeLibrary(m);
}
}  // namespace handle_detail

// Process, thread and event handles: null means "none".
using UniqueHandleKernel = UniqueHandle<HANDLE,
                                        handle_detail::CloseKernelHandle,
                                        handle_detail::Null<HANDLE>>;
// CreateFileW and FindFirstFileW return INVALID_HANDLE_VALUE on failure.
using UniqueFile = UniqueHandle<HANDLE,
                                handle_detail::CloseKernelHandle,
                                handle_detail::InvalidHandleValue>;
using UniqueFind = UniqueHandle<HANDLE,
                                handle_detail::CloseFind,
                                handle_detail::InvalidHandleValue>;
using UniqueKey =
    UniqueHandle<HKEY, handle_detail::CloseKey, handle_detail::Null<HKEY>>;
using UniqueModule =
    UniqueHandle<HMODULE, handle_detail::FreeLib, handle_detail::Null<HMODULE>>;
