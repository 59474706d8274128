// Runs a callable when the scope ends, on every way out (return, exception). The one scope guard
// of the project: restore a flag, re-enable a command, remove a temporary file.
#pragma once

#include <utility>

namespace zephyrine::base {

template <typename F>
class [[nodiscard]] ScopeExit {
  public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() {
        if (armed_) f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    // The callable will not run.
    void Release() noexcept { armed_ = false; }

  private:
    F f_;
    bool armed_ = true;
};

}  // namespace zephyrine::base
