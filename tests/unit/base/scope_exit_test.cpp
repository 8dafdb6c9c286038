#include "base/scope_exit.h"

#include <gtest/gtest.h>

#include <utility>

namespace qv {
namespace {

// Runs once on every way out of its scope: the end of the block, a moved-to owner's end, never
// after Release().
TEST(ScopeExit, RunsOnceUnlessReleased) {
    int runs = 0;
    {
        auto guard = MakeScopeExit([&runs] { ++runs; });
        EXPECT_EQ(runs, 0);
    }
    EXPECT_EQ(runs, 1);
    {
        auto guard = MakeScopeExit([&runs] { ++runs; });
        auto moved = std::move(guard);
    }
    EXPECT_EQ(runs, 2);
    {
        auto guard = MakeScopeExit([&runs] { ++runs; });
        guard.Release();
    }
    EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace qv
