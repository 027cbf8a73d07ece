#include "common/gbk.h"
#include "download/conversions.h"

#include <gtest/gtest.h>

using namespace download;
using common::gbk;

TEST(DecodePage, DecodesEscapesThenUtf8ToGbk)
{
    const struct
    {
        const char *name;
        std::string in, out;
    } cases[] = {
        {"capital letters", "%41%42", "AB"},
        {"lower-case digits", "%4a%4A", "JJ"},
        {"one chinese character", "%E4%B8%AD", gbk("中")},
        {"zero adds nothing", "a%00b", "ab"},
        {"percent at the end", "ab%", "ab%"},
        {"percent with one digit at the end", "ab%4", "ab%4"},
        {"percent without digits", "%zz%", "%zz%"},
        {"plain text", "abc", "abc"},
        {"already utf-8", "中文", gbk("中文")},
        {"bad utf-8 becomes a question mark", "%FFa", "?a"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DecodePage(row.in), row.out);
    }
}

TEST(Utf8ToGb18030, AllOrNothing)
{
    EXPECT_EQ(Utf8ToGb18030("plain ascii page"), "plain ascii page");
    EXPECT_EQ(Utf8ToGb18030("中文"), gbk("中文"));
    EXPECT_EQ(Utf8ToGb18030("abc\xFF"
                            "def"),
        "");
    EXPECT_EQ(Utf8ToGb18030("abc\xE4\xB8"), "");
    EXPECT_EQ(Utf8ToGb18030(""), "");
    // Characters outside GBK take four bytes in GB18030: the buffer has to grow.
    std::string emoji;
    for (int i = 0; i < 100; ++i)
        emoji += "\xF0\x9F\x98\x80";
    EXPECT_EQ(Utf8ToGb18030(emoji).size(), 400u);
    std::string manyChinese;
    for (int i = 0; i < 1000; ++i)
        manyChinese += "中";
    EXPECT_EQ(Utf8ToGb18030(manyChinese).size(), 2000u);
}

TEST(ConvertCharset, ConvertsBetweenNamedSets)
{
    EXPECT_EQ(ConvertCharset(gbk("软件"), "GBK", "utf-8"), "软件");
    EXPECT_EQ(ConvertCharset("\xF0\x9F\x98\x80", "utf-8", "GBK"), "?");
    EXPECT_EQ(ConvertCharset("x", "no-such-set", "GBK"), "");
}
