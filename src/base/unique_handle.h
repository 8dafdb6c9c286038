// The one move-only owner of every handle kind. UniqueHandle<T, Close, Invalid> owns a value of the
// handle type T and closes it with Close unless Invalid (an InvalidValue) says the value owns
// nothing.
// Close is one of
//   R Close(T)             a function that closes the handle by itself (a system call);
//   R (Port::*Close)(T)    a port's method: the owner also holds the port it closes through;
//   R Close(Port&, T)      a function that closes through a port, for a port whose close must
//                          not be called on some values (the predefined registry roots).
// Invalid is null (the default), -1, or both: a kernel handle is both, since most calls fail with
// null and a file or a search with INVALID_HANDLE_VALUE, so its owner takes what a call returned
// and callers test the owner, not the value.
// Each handle kind is an alias of it (UniqueKey, UniqueFind, UniqueToken, ...); no handle is closed
// anywhere else. An owner that closes through a port and was made without one closes nothing.
#pragma once
#include <cstdint>
#include <type_traits>
#include <utility>

namespace qv {
namespace detail {

// -1 as a value of the handle type: an integer, or a pointer with all bits set.
template <typename T>
T MinusOne() noexcept {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(~std::uintptr_t{0});
    } else {
        return static_cast<T>(-1);
    }
}

struct NoPort {};

template <typename F>
struct CloseCall;
template <typename R, typename T>
struct CloseCall<R (*)(T)> {
    using Port = void;
    using Result = R;
};
template <typename R, typename T>
struct CloseCall<R (*)(T) noexcept> : CloseCall<R (*)(T)> {};
template <typename R, typename P, typename T>
struct CloseCall<R (P::*)(T)> {
    using Port = P;
    using Result = R;
};
template <typename R, typename P, typename T>
struct CloseCall<R (P::*)(T) noexcept> : CloseCall<R (P::*)(T)> {};
template <typename R, typename P, typename T>
struct CloseCall<R (*)(P&, T)> {
    using Port = P;
    using Result = R;
};
template <typename R, typename P, typename T>
struct CloseCall<R (*)(P&, T) noexcept> : CloseCall<R (*)(P&, T)> {};

}  // namespace detail

// Which values of a handle type own nothing (and are never closed).
enum class InvalidValue {
    kNull,            // null (or 0): the default
    kMinusOne,        // -1; 0 is a handle
    kNullOrMinusOne,  // both; an empty owner holds null
};

template <typename T, auto Close, InvalidValue Invalid = InvalidValue::kNull>
class UniqueHandle {
    using Call = detail::CloseCall<decltype(Close)>;
    static constexpr bool kThroughPort = !std::is_void_v<typename Call::Port>;

  public:
    using Value = T;
    using Port = std::conditional_t<kThroughPort, typename Call::Port, detail::NoPort>;
    using Result = typename Call::Result;

    UniqueHandle() noexcept = default;
    // An owner of a handle that closes by itself.
    template <bool P = kThroughPort, std::enable_if_t<!P, int> = 0>
    explicit UniqueHandle(T v) noexcept : value_(v) {}
    // An owner that closes through `port`; empty until reset() or put() gives it a handle.
    template <bool P = kThroughPort, std::enable_if_t<P, int> = 0>
    explicit UniqueHandle(Port& port, T v = Empty()) noexcept : port_(&port), value_(v) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : port_(other.port_), value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            port_ = other.port_;
            value_ = other.release();
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    T get() const noexcept { return value_; }
    // Where the owner keeps its value (as wil's addressof), for what must read the value current
    // at each call rather than the one it was given: an adapter built before start-up fills the
    // owner.
    const T* addressof() const noexcept { return &value_; }
    // Whether a handle is owned: false for every value the policy calls invalid.
    explicit operator bool() const noexcept { return !IsInvalid(value_); }

    // Gives up ownership without closing.
    [[nodiscard]] T release() noexcept { return std::exchange(value_, Empty()); }

    // Closes the owned handle (if any) and takes v. The close result is dropped: an owner that
    // lets go of a handle has no one to report it to; callers that must know it use close().
    void reset(T v = Empty()) noexcept {
        T old = std::exchange(value_, v);
        if (!IsInvalid(old)) (void)CloseValue(old);
    }

    // Closes the owned handle and hands out the address for an out-parameter, so that an
    // out-parameter never overwrites a handle that is still open.
    T* put() noexcept {
        reset();
        return &value_;
    }

    // Closes now and returns the close result, for callers that must know it (a value-initialised
    // result when there was nothing to close).
    [[nodiscard]] Result close() noexcept {
        T old = std::exchange(value_, Empty());
        if (IsInvalid(old)) return Result();
        return CloseValue(old);
    }

  private:
    // What an owner that owns nothing holds.
    static T Empty() noexcept {
        if constexpr (Invalid == InvalidValue::kMinusOne) {
            return detail::MinusOne<T>();
        } else {
            return T{};
        }
    }
    static bool IsInvalid(T v) noexcept {
        if constexpr (Invalid == InvalidValue::kNull) {
            return v == T{};
        } else if constexpr (Invalid == InvalidValue::kMinusOne) {
            return v == detail::MinusOne<T>();
        } else {
            return v == T{} || v == detail::MinusOne<T>();
        }
    }

    Result CloseValue(T v) noexcept {
        if constexpr (!kThroughPort) {
            return Close(v);
        } else {
            if (port_ == nullptr) return Result();
            if constexpr (std::is_member_function_pointer_v<decltype(Close)>) {
                return (port_->*Close)(v);
            } else {
                return Close(*port_, v);
            }
        }
    }

    Port* port_ = nullptr;
    T value_ = Empty();
};

}  // namespace qv
