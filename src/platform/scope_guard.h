// Runs a callable when the scope ends, on every path.
#pragma once

#include <utility>

template <typename F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F f) : f_(std::move(f)) {}
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ~ScopeGuard() {
    if (armed_)
      f_();
  }
  void dismiss() { armed_ = false; }

 private:
  F f_;
  bool armed_ = true;
};
