#include "common/base64.h"
#include "common/gbk.h"
#include "common/markers.h"

#include <gtest/gtest.h>

using common::extractBetween;
using common::gbk;

TEST(MarkerExtraction, CutsBetweenMarkers)
{
    const struct
    {
        const char *name;
        std::string text, start, end;
        long from;
        bool caseSensitive;
        std::string expected;
    } cases[] = {
        {"plain", "xx<a>v1</a>", "<a>", "</a>", 0, false, "v1"},
        {"first start, next end", "<a>1</a><a>2</a>", "<a>", "</a>", 0, false, "1"},
        {"letter case ignored", "<META content=X>", "<meta content=", ">", 0, false, "X"},
        {"letter case kept when asked", "<META content=X>", "<meta content=", ">", 0, true, ""},
        {"missing start", "abc", "<", ">", 0, false, ""},
        {"missing end", "<abc", "<", ">", 0, false, ""},
        {"empty between", "<>", "<", ">", 0, false, ""},
        {"quote word", "k=\"v\"", "k=#引号", "#引号", 0, false, "v"},
        {"start position skips an earlier start", "<1><2>", "<", ">", 2, false, "2"},
        // The end is searched in the rest from the same position: the rest is "b>cd>", searched from 5.
        {"end searched from the same position", "aaaa<b>cd>", "<", ">", 5, false, "b>cd"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(extractBetween(gbk(row.text), gbk(row.start), gbk(row.end), row.from, row.caseSensitive),
            gbk(row.expected));
    }
}

TEST(MarkerExtraction, NeverStartsInsideADoubleByteCharacter)
{
    // 丄 (81 43) carries the letter C as its second byte.
    EXPECT_EQ(extractBetween("\x81\x43"
                             "x-",
                  "C", "-"),
        "");
    EXPECT_EQ(extractBetween("\x81\x43"
                             "Cx-",
                  "c", "-"),
        "x");
}

TEST(Base64, PadsByLength)
{
    EXPECT_EQ(common::base64Encode(""), "");
    EXPECT_EQ(common::base64Encode("a"), "YQ==");
    EXPECT_EQ(common::base64Encode("ab"), "YWI=");
    EXPECT_EQ(common::base64Encode("abc"), "YWJj");
    EXPECT_EQ(common::base64Encode(std::string("\xFF\x00\x80", 3)), "/wCA");
}
