#include "common/gbk.h"

#include <gtest/gtest.h>

using namespace common;

namespace {

// 丄 is 81 43 in GBK: its second byte is the letter 'C'.
const std::string TrailC = "\x81\x43";

} // namespace

TEST(GbkFind, NeverMatchesOnTheSecondByteOfACharacter)
{
    EXPECT_EQ(findText(TrailC, "C"), NotFound);
    EXPECT_EQ(findText(TrailC, "c", 1, Case::IgnoreAscii), NotFound);
    EXPECT_EQ(findLastText(TrailC + "C", "C"), 3);
    EXPECT_EQ(findText("A" + TrailC + "C", "C"), 4);
}

TEST(GbkFind, PositionsAreOneBasedAndStartPositionCounts)
{
    EXPECT_EQ(findText("abcabc", "c"), 3);
    EXPECT_EQ(findText("abcabc", "c", 4), 6);
    EXPECT_EQ(findText("abcabc", "c", 7), NotFound);
    EXPECT_EQ(findText("abc", "x"), NotFound);
    EXPECT_EQ(findLastText("abcabc", "abc"), 4);
    EXPECT_EQ(findText("ABC", "b", 1, Case::IgnoreAscii), 2);
    EXPECT_EQ(findText("ABC", "b"), NotFound);
}

TEST(GbkFind, EmptyNeedleIsFoundInEveryNonEmptyTextOnly)
{
    EXPECT_NE(findLastText("a", ""), NotFound);
    EXPECT_EQ(findLastText("", ""), NotFound);
    EXPECT_EQ(findText("", ""), NotFound);
}

TEST(GbkSplit, KeepsInnerEmptyPiecesAndDropsTheTrailingOne)
{
    const struct
    {
        const char *name;
        std::string text;
        std::vector<std::string_view> pieces;
    } cases[] = {
        {"plain", "a(b", {"a", "b"}},
        {"adjacent", "a((b", {"a", "", "b"}},
        {"trailing", "a(", {"a"}},
        {"leading", "(a", {"", "a"}},
        {"empty", "", {}},
        {"only delimiter", "(", {""}},
        {"delimiter hidden in a character", "\x81(x", {"\x81(x"}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(splitText(row.text, "("), row.pieces);
    }
}

TEST(GbkText, TruncatesWithoutSplittingACharacter)
{
    const std::string text = "a" + gbk("中文");
    EXPECT_EQ(truncateChars(text, 3), "a" + gbk("中"));
    EXPECT_EQ(truncateChars(text, 4), "a" + gbk("中"));
    EXPECT_EQ(truncateChars(text, 100), text);
    EXPECT_EQ(untilZero(std::string("ab\0cd", 5)), "ab");
}

TEST(GbkText, ConvertsAtTheBordersAndSurvivesBadBytes)
{
    EXPECT_EQ(gbk("软件"), "\xC8\xED\xBC\xFE");
    EXPECT_EQ(utf8FromGbk(gbk("记住我的名称")), "记住我的名称");
    EXPECT_EQ(utf8FromGbk("a\xFF"), "a\xEF\xBF\xBD");
    EXPECT_EQ(gbkFromUtf8("\xF0\x9F\x98\x80"), "?");
    EXPECT_EQ(gbkFromUtf8("x\xC3"), "x?");
}

TEST(GbkText, EqualityFoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(equalText("Section", "SECTION", Case::IgnoreAscii));
    EXPECT_FALSE(equalText("\x81\x43", "\x81\x63", Case::IgnoreAscii));
    EXPECT_FALSE(equalText("ab", "abc", Case::IgnoreAscii));
}
