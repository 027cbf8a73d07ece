#include "common/gbk.h"
#include "common/markers.h"
#include "support/growth.h"

#include <functional>
#include <gtest/gtest.h>
#include <iconv.h>
#include <random>

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

TEST(GbkFind, FoldsExactlyTheAsciiLetters)
{
    // Both ends of both letter ranges fold; the bytes just outside them ('@', '[', '`', '{') are no letters,
    // though they are 32 apart like a letter pair.
    const struct
    {
        std::string text, needle;
        bool same;
    } cases[] = {
        {"A", "a", true},
        {"Z", "z", true},
        {"a", "A", true},
        {"z", "Z", true},
        {"M", "m", true},
        {"@", "`", false},
        {"`", "@", false},
        {"[", "{", false},
        {"{", "[", false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.text + " " + row.needle);
        EXPECT_EQ(findText(row.text, row.needle, 1, Case::IgnoreAscii) != NotFound, row.same);
        EXPECT_EQ(findText("x" + row.text, "x" + row.needle, 1, Case::IgnoreAscii) != NotFound, row.same);
        EXPECT_EQ(findLastText(row.text, row.needle, Case::IgnoreAscii) != NotFound, row.same);
        EXPECT_EQ(equalText(row.text, row.needle, Case::IgnoreAscii), row.same);
        EXPECT_EQ(findText(row.text, row.needle) != NotFound, row.text == row.needle);
    }
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

// Unlike splitText, a line's fields keep the empty last one, and a limit stops one past it.
TEST(GbkSplit, TabsGiveEveryFieldOrOnePastTheLimit)
{
    const struct
    {
        std::string line;
        std::size_t most;
        std::vector<std::string_view> fields;
    } cases[] = {
        {"a\tb", std::string_view::npos, {"a", "b"}},
        {"a\t", std::string_view::npos, {"a", ""}},
        {"", std::string_view::npos, {""}},
        {"a\tb\tc\td", 2, {"a", "b", "c"}},
        {"a\tb", 2, {"a", "b"}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(splitTabs(row.line, row.most), row.fields);
    }
}

TEST(GbkBoundary, ChecksAgreeWithWalkingTheTextFromItsStart)
{
    // The rule itself: characters follow one another from the start, a lead byte taking the byte after it. A
    // text that ends on a lead byte ends half-way through a character.
    std::mt19937 random(17);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 40, ' ');
        for (char &c : text)
            c = "a(\x81\xA3\xFE"[random() % 5];
        std::vector<bool> starts(text.size() + 2, false);
        for (std::size_t at = 0; at <= text.size(); at += isLeadByte(static_cast<unsigned char>(text[at])) ? 2 : 1)
            starts[at] = true;
        BoundaryCursor cursor(text);
        for (std::size_t at = 0; at <= text.size(); at += random() % 3) {
            SCOPED_TRACE(testing::PrintToString(text) + " at " + std::to_string(at));
            ASSERT_EQ(isCharBoundary(text, at), starts[at]);
            ASSERT_EQ(cursor.isBoundary(at), starts[at]);
        }
    }
}

TEST(GbkFind, CostGrowsInProportionToTheText)
{
    // A lone lead byte pairs with the first byte of the first copy, so every copy after it lies one byte off
    // the character boundaries: each is a match to turn down, deep inside one run of lead-range bytes.
    const std::string label = gbk("电脑技术：");
    const auto shifted = [&label](std::size_t copies) { return "\x81" + repeated(label, copies); };
    const struct
    {
        const char *name;
        std::function<void(const std::string &)> work;
    } searches[] = {
        {"first match", [&label](const std::string &text) { EXPECT_EQ(findText(text, label), NotFound); }},
        {"first match, letter case ignored",
            [&label](const std::string &text) { EXPECT_EQ(findText(text, label, 1, Case::IgnoreAscii), NotFound); }},
        {"first match from a later position",
            [&label](const std::string &text) { EXPECT_EQ(findText(text, label, 7), NotFound); }},
        {"last match", [&label](const std::string &text) { EXPECT_EQ(findLastText(text, label), NotFound); }},
        {"split", [&label](const std::string &text) { EXPECT_EQ(splitText(text, label).size(), 1u); }},
        {"marker extraction", [&label](const std::string &text) { EXPECT_EQ(extractBetween(text, label, "-"), ""); }},
    };
    for (const auto &search : searches) {
        SCOPED_TRACE(search.name);
        EXPECT_TRUE(growsInProportion(shifted, search.work, 1 << 10));
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

namespace {

// Character by character through glibc's iconv: a lead byte and the byte after it that iconv cannot convert
// as a pair, or any other byte above ASCII, give U+FFFD and the conversion goes on with the next byte.
std::string decodeThroughIconv(std::string_view gbkText)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    std::string out;
    for (std::size_t at = 0; at < gbkText.size();) {
        if (static_cast<unsigned char>(gbkText[at]) < 0x80) {
            out += gbkText[at++];
            continue;
        }
        char pair[2] = {gbkText[at], at + 1 < gbkText.size() ? gbkText[at + 1] : '\0'};
        char utf8[8];
        char *in = pair;
        char *to = utf8;
        std::size_t inLeft = 2;
        std::size_t outLeft = sizeof utf8;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool converted = isLeadByte(static_cast<unsigned char>(pair[0])) && at + 1 < gbkText.size()
            && iconv(cd, &in, &inLeft, &to, &outLeft) != std::size_t(-1) && inLeft == 0;
        out += converted ? std::string(utf8, to) : std::string("\xEF\xBF\xBD");
        at += converted ? 2 : 1;
    }
    iconv_close(cd);
    return out;
}

} // namespace

TEST(GbkText, DecodingAgreesWithIconvOnAnyBytes)
{
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        // Long ASCII runs, Chinese text and raw bytes in every mixture, at every alignment.
        std::string text;
        while (text.size() < random() % 64) {
            switch (random() % 3) {
            case 0:
                text += std::string(random() % 20, static_cast<char>('a' + random() % 26));
                break;
            case 1:
                text += gbk("软件名称：");
                break;
            default:
                text += static_cast<char>(random() % 256);
            }
        }
        ASSERT_EQ(utf8FromGbk(text), decodeThroughIconv(text)) << testing::PrintToString(text);
    }
}
