// A bracket closed by scope: ScopeExit runs its function once when it goes out of scope, so that
// what a block set up (an observer attached, a field pointed at a local, a flag raised) is undone
// on every path out of it. Release() keeps it from running.
#pragma once
#include <utility>

namespace qv {

template <typename F>
class [[nodiscard]] ScopeExit {
  public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ScopeExit(ScopeExit&& other) noexcept : f_(std::move(other.f_)), armed_(other.armed_) {
        other.armed_ = false;
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ScopeExit& operator=(ScopeExit&&) = delete;
    ~ScopeExit() {
        if (armed_) f_();
    }

    void Release() noexcept { armed_ = false; }

  private:
    F f_;
    bool armed_ = true;
};

// auto detach = MakeScopeExit([journal] { journal->SetObserver(nullptr); });
template <typename F>
[[nodiscard]] ScopeExit<F> MakeScopeExit(F f) noexcept {
    return ScopeExit<F>(std::move(f));
}

}  // namespace qv
