#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::text {
namespace {

// Code page 932 characters whose second byte is 0x5C, the code of "\": "表" and "ソ".
const std::string kHyo = "\x95\x5C";
const std::string kSo = "\x83\x5C";

class TextTest : public ::testing::Test {
  protected:
    void TearDown() override { SetLeadBytes(Cp932LeadBytes()); }
};

TEST_F(TextTest, TrailBytesAreNeverDelimiters) {
    const std::string path = "C:\\" + kHyo + "\\x" + kSo;  // C:\表\xソ
    EXPECT_EQ(Find(path, '\\', 3), 5u);
    EXPECT_EQ(FindLast(path, '\\'), 5u);
    EXPECT_EQ(Find(kSo, '\\'), npos);
    // A match must start on a character boundary: the trail byte of 表 and the "\" after it are
    // not two backslashes.
    EXPECT_EQ(FindText(path, "\\\\"), npos);
    EXPECT_EQ(FindText(kSo + "-d", "-d"), 2u);
    EXPECT_EQ(AfterLastBackslash(path), "x" + kSo);
    EXPECT_EQ(CutBeforeLastBackslash(path), "C:\\" + kHyo);
}

TEST_F(TextTest, PathHelpersWithoutBackslash) {
    EXPECT_EQ(AfterLastBackslash("name"), "name");
    EXPECT_EQ(CutBeforeLastBackslash("name"), "name");
    EXPECT_EQ(CutBeforeLastBackslash("a\\b\\c"), "a\\b");
    EXPECT_EQ(FindText("abc", "abcd"), npos);  // a needle running past the end
}

TEST_F(TextTest, TrimRemovesTheWholeRunOfBackslashesOnly) {
    EXPECT_EQ(TrimTrailingBackslashes("C:\\dir\\\\\\"), "C:\\dir");
    EXPECT_EQ(TrimTrailingBackslashes("\\\\"), "");
    EXPECT_EQ(TrimTrailingBackslashes(kHyo), kHyo);
    EXPECT_EQ(TrimTrailingBackslashes("a\\" + kHyo + "\\\\"), "a\\" + kHyo);
}

// A system's message text fits in the middle of a sentence: only its line end goes.
TEST_F(TextTest, TrimLineEndLeavesTheTextBeforeItsLineEnd) {
    EXPECT_EQ(TrimLineEnd("Access is denied.\r\n"), "Access is denied.");
    EXPECT_EQ(TrimLineEnd("two\r\nlines \t\r\n\n"), "two\r\nlines");
    EXPECT_EQ(TrimLineEnd(" \r\n"), "");
    EXPECT_EQ(TrimLineEnd(kSo), kSo);
}

// Each "%s" of a format, on a character boundary, takes the next argument; nothing else of the
// format or of an argument is read as a format.
TEST_F(TextTest, SubstituteFillsEachPlaceholderInTurnAndNothingElse) {
    EXPECT_EQ(Substitute("%s: %s.", {"a", "b"}), "a: b.");
    EXPECT_EQ(Substitute("%d%% %s", {"%s%n"}), "%d%% %s%n");
    EXPECT_EQ(Substitute("%s and %s", {"one"}), "one and %s");  // none left: kept
    EXPECT_EQ(Substitute("no place", {"x"}), "no place");
    // "ソ" ends in 0x5C; a "%" after a lead byte's pair is a character of its own.
    EXPECT_EQ(Substitute(kSo + "%s" + kHyo, {"x"}), kSo + "x" + kHyo);
    EXPECT_EQ(Substitute("\x83%s", {"x"}), "\x83%s");  // "%" is the trail byte of a pair
}

TEST_F(TextTest, SingleByteCodePageSeesEveryBackslash) {
    SetLeadBytes(LeadByteTable{});
    EXPECT_EQ(Find(kHyo, '\\'), 1u);
    EXPECT_EQ(TrimTrailingBackslashes(kHyo), "\x95");
}

TEST_F(TextTest, ComparisonsFoldAsciiLettersOnly) {
    EXPECT_TRUE(EqualsNoCase("Software\\BRENNARD", "software\\brennard"));
    // 0x61 and 0x41 are trail bytes here, not the letters a and A.
    EXPECT_FALSE(EqualsNoCase("\x82\x61", "\x82\x41"));
    EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
    EXPECT_LT(CompareNoCase("ab", "AB" + kHyo), 0);
    EXPECT_GT(CompareNoCase("b", "A"), 0);
    EXPECT_GT(CompareNoCase(kHyo, "z"), 0);  // bytes compare unsigned
    EXPECT_FALSE(Equals("40c", "40C"));
}

TEST_F(TextTest, FoldedFormsAreEqualExactlyWhenTheTextsCompareEqual) {
    EXPECT_EQ(FoldCase("Local Settings\\temp"), FoldCase("LOCAL SETTINGS\\Temp"));
    // A trail byte in 'a'..'z' stays as it is: the two double-byte characters differ.
    EXPECT_NE(FoldCase("\x82\x61"), FoldCase("\x82\x41"));
    EXPECT_EQ(FoldCase("\x82\x61x"), std::string("\x82\x61X"));
}

}  // namespace
}  // namespace qv::text
