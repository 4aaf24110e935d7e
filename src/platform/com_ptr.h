// A minimal owning pointer for COM interfaces: Release on destruction.
#pragma once

#include <objbase.h>

#include <utility>

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other)
      reset(std::exchange(other.ptr_, nullptr));
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  void reset(T* p = nullptr) {
    T* old = std::exchange(ptr_, p);
    if (old)
      old->Release();
  }

  // For out-parameters of CoCreateInstance and friends.
  T** put() {
    reset();
    return &ptr_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

  // QueryInterface into another owner; returns the HRESULT.
  template <typename U>
  HRESULT As(const IID& iid, ComPtr<U>& out) const {
    return ptr_ ? ptr_->QueryInterface(iid, out.put_void()) : E_POINTER;
  }

 private:
  T* ptr_ = nullptr;
};
