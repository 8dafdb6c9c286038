#include "base/time_text.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

// Leap days of the 400-year rule, the century that is not a leap year, times before 1970 and the
// edges of the four-digit years.
TEST(Iso8601UtcTest, CalendarEdges) {
    EXPECT_EQ(Iso8601Utc(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(Iso8601Utc(-1), "1969-12-31T23:59:59Z");
    EXPECT_EQ(Iso8601Utc(951868799), "2000-02-29T23:59:59Z");
    EXPECT_EQ(Iso8601Utc(4107542400), "2100-03-01T00:00:00Z");
    EXPECT_EQ(Iso8601Utc(-2203934399), "1900-02-28T12:00:01Z");
    EXPECT_EQ(Iso8601Utc(-62135596800), "0001-01-01T00:00:00Z");
    EXPECT_EQ(Iso8601Utc(253402300799), "9999-12-31T23:59:59Z");
    EXPECT_EQ(Iso8601Utc(253402300800), "");
    EXPECT_EQ(Iso8601Utc(-62167219201), "");
}

}  // namespace
}  // namespace qv
