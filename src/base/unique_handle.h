// The one move-only owner of every handle kind. UniqueHandle<T, Close, Invalid> owns a value of the
// handle type T and closes it with Close unless it is Invalid (the value that owns nothing). Close
// is one of
//   R Close(T)             a function that closes the handle by itself (a system call);
//   R (Port::*Close)(T)    a port's method: the owner also holds the port it closes through;
//   R Close(Port&, T)      a function that closes through a port, for a port whose close must
//                          not be called on some values (the predefined registry roots).
// Each handle kind is an alias of it (UniqueKey, UniqueFind, UniqueToken, ...); no handle is closed
// anywhere else. An owner that closes through a port and was made without one closes nothing.
#pragma once
#include <type_traits>
#include <utility>

namespace qv {
namespace detail {

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

template <typename T, auto Close, T Invalid = T{}>
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
    explicit UniqueHandle(Port& port, T v = Invalid) noexcept : port_(&port), value_(v) {}
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

    // The owned value; by reference, so that an adapter may keep reading the owner's field.
    const T& get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return !(value_ == Invalid); }

    // Gives up ownership without closing.
    [[nodiscard]] T release() noexcept { return std::exchange(value_, Invalid); }

    // Closes the owned handle (if any) and takes v. The close result is dropped: an owner that
    // lets go of a handle has no one to report it to; callers that must know it use close().
    void reset(T v = Invalid) noexcept {
        T old = std::exchange(value_, v);
        if (!(old == Invalid)) (void)CloseValue(old);
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
        T old = std::exchange(value_, Invalid);
        if (old == Invalid) return Result();
        return CloseValue(old);
    }

  private:
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
    T value_ = Invalid;
};

}  // namespace qv
