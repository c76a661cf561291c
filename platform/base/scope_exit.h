#pragma once
// Runs a clean-up step when a scope is left, by return or by exception. The step's own errors
// are dropped: a clean-up must never hide the error that ended the scope, and a destructor
// never raises.
#include <utility>

namespace platform {

template <class F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() {
    if (!active_) return;
    try {
      f_();
    } catch (...) {
    }
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  // The step will not run.
  void Release() { active_ = false; }

 private:
  F f_;
  bool active_ = true;
};

}  // namespace platform
