#include "base/enum_names.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

enum class Colour { kRed, kGreen, kBlue };

constexpr EnumName<Colour> kColourNames[] = {
    {Colour::kRed, "red"}, {Colour::kGreen, "green"}, {Colour::kBlue, "blue"}};
constexpr EnumName<Colour> kLastMissing[] = {{Colour::kRed, "red"}, {Colour::kGreen, "green"}};
constexpr EnumName<Colour> kOutOfOrder[] = {
    {Colour::kRed, "red"}, {Colour::kBlue, "blue"}, {Colour::kGreen, "green"}};

// The checks a table of names must pass to build: every value, in order, none left at the end.
static_assert(NamesEveryValue(kColourNames));
static_assert(!NamesEveryValue(kLastMissing));
static_assert(!NamesEveryValue(kOutOfOrder));

TEST(EnumNames, NamesEachValueAndFallsBackForANumberOutsideTheEnum) {
    EXPECT_EQ(std::string(NameOf(kColourNames, Colour::kRed, "?")), "red");
    EXPECT_EQ(std::string(NameOf(kColourNames, Colour::kBlue, "?")), "blue");
    EXPECT_EQ(std::string(NameOf(kColourNames, static_cast<Colour>(3), "?")), "?");
    EXPECT_EQ(std::string(NameOf(kColourNames, static_cast<Colour>(-1), "?")), "?");
}

}  // namespace
}  // namespace qv
