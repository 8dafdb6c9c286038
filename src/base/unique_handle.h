// One move-only owner for every handle kind (registry key, find handle, token, SID, library).
// A Closer is a small value type with
//   using Value = ...;               the handle type
//   static Value Null();             the value that owns nothing
//   bool Owns(Value v) const;        whether v must be closed (predefined keys are not)
//   Result Close(Value v);           closes it and returns the system's result
// Closers may carry state (the port that closes the handle).
#pragma once
#include <utility>

namespace qv {

template <typename Closer>
class UniqueHandle {
  public:
    using Value = typename Closer::Value;
    using Result = decltype(std::declval<Closer&>().Close(std::declval<Value>()));

    UniqueHandle() noexcept : value_(Closer::Null()) {}
    explicit UniqueHandle(Closer closer, Value v = Closer::Null()) noexcept
        : closer_(std::move(closer)), value_(v) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : closer_(std::move(other.closer_)), value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            closer_ = std::move(other.closer_);
            value_ = other.release();
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Value get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return !(value_ == Closer::Null()); }

    // Gives up ownership without closing.
    [[nodiscard]] Value release() noexcept { return std::exchange(value_, Closer::Null()); }

    // Closes the owned handle (if any, result ignored) and takes v.
    void reset(Value v = Closer::Null()) noexcept {
        Value old = std::exchange(value_, v);
        if (!(old == Closer::Null()) && closer_.Owns(old)) closer_.Close(old);
    }

    // Closes the owned handle and hands out the address for an out-parameter, so that an
    // out-parameter never overwrites a handle that is still open.
    Value* put() noexcept {
        reset();
        return &value_;
    }

    // Closes now and returns the close result, for callers that must know it.
    Result close() noexcept {
        Value old = std::exchange(value_, Closer::Null());
        if (!(old == Closer::Null()) && closer_.Owns(old)) return closer_.Close(old);
        return Result{};
    }

    Closer& closer() noexcept { return closer_; }

  private:
    Closer closer_{};
    Value value_;
};

}  // namespace qv
