#pragma once

// Runs a piece of code when the scope it was made in ends, however it ends: by return,
// by break or by an exception. Undo steps and "put it back" steps are written with it.

#include <utility>

namespace perlwick {

template <typename Action>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ~ScopeExit() {
    if (armed_) action_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  // The action is not run after all.
  void release() { armed_ = false; }

 private:
  Action action_;
  bool armed_ = true;
};

}  // namespace perlwick
