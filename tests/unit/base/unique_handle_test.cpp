#include "base/unique_handle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qv {
namespace {

// A port that records what it is asked to close and answers with a result of its choice.
struct ClosingPort {
    std::vector<int> closed;
    int result = 0;
    int Close(int handle) noexcept {
        closed.push_back(handle);
        return result;
    }
};
using PortOwned = UniqueHandle<int, &ClosingPort::Close, InvalidValue::kMinusOne>;

std::vector<int>& FreedByItself() {
    static std::vector<int> freed;
    return freed;
}
int FreeByItself(int handle) noexcept {
    FreedByItself().push_back(handle);
    return 7;
}
std::vector<int*>& FreedPointers() {
    static std::vector<int*> freed;
    return freed;
}
int FreePointer(int* handle) noexcept {
    FreedPointers().push_back(handle);
    return 7;
}
using SelfOwned = UniqueHandle<int, &FreeByItself>;
using EitherInvalid = UniqueHandle<int*, &FreePointer, InvalidValue::kNullOrMinusOne>;

int CloseUnlessReserved(ClosingPort& port, int handle) noexcept {
    return handle >= 100 ? 0 : port.Close(handle);
}
using Reserved = UniqueHandle<int, &CloseUnlessReserved>;

// Every owned handle is closed exactly once, whatever way its owner ends, and the invalid value
// is never closed: moves pass ownership, release gives it up, put and reset close what was held
// first, and close() reports the close result (a value-initialised one when nothing was held).
TEST(UniqueHandleTest, ClosesEachOwnedHandleExactlyOnce) {
    ClosingPort port;
    {
        PortOwned a(port, 0);  // 0 is a handle here: only -1 owns nothing
        PortOwned b(std::move(a));
        EXPECT_FALSE(a);
        PortOwned c(port, 1);
        c = std::move(b);  // 1 is closed, 0 moves over
        EXPECT_EQ(c.get(), 0);
        *c.put() = 2;  // 0 is closed before the out-parameter is written
        PortOwned d(port, 3);
        EXPECT_EQ(d.release(), 3);
        PortOwned e(port);
        e.reset(-1);
        PortOwned unbound;
        unbound.reset(9);  // no port to close through: nothing is closed
    }
    EXPECT_EQ(port.closed, (std::vector<int>{1, 0, 2}));

    port.closed.clear();
    port.result = 6;
    PortOwned f(port, 4);
    EXPECT_EQ(f.close(), 6);
    EXPECT_EQ(f.close(), 0);
    EXPECT_EQ(port.closed, (std::vector<int>{4}));

    {
        SelfOwned g(5);
        EXPECT_EQ(g.close(), 7);
        SelfOwned h(8);
        SelfOwned empty;
        EXPECT_FALSE(empty);
    }
    EXPECT_EQ(FreedByItself(), (std::vector<int>{5, 8}));

    // A kernel handle's policy: neither null nor -1 is closed, and both read as no handle.
    int object = 0;
    int* const minusOne = reinterpret_cast<int*>(~std::uintptr_t{0});
    {
        EitherInvalid failed(minusOne);
        EitherInvalid none(nullptr);
        EitherInvalid owned(&object);
        EXPECT_FALSE(failed);
        EXPECT_FALSE(none);
        EXPECT_TRUE(owned);
        EXPECT_EQ(failed.close(), 0);
        failed.reset(minusOne);
        *owned.put() = minusOne;  // the object is closed, the -1 written in its place is not
        EXPECT_FALSE(owned);
    }
    EXPECT_EQ(FreedPointers(), (std::vector<int*>{&object}));

    port.closed.clear();
    {
        Reserved reserved(port, 100);
        Reserved opened(port, 10);
        EXPECT_EQ(reserved.close(), 0);
    }
    EXPECT_EQ(port.closed, (std::vector<int>{10}));
}

}  // namespace
}  // namespace qv
