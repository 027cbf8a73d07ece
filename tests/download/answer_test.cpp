#include "download/address.h"
#include "download/answercheck.h"
#include "download/controlfile.h"
#include "download/naming.h"
#include "download/rangecheck.h"
#include "support/growth.h"

#include <functional>
#include <gtest/gtest.h>

using namespace download;
using Kind = AnswerVerdict::Kind;

namespace {

AnswerHead headOf(std::initializer_list<const char *> lines)
{
    AnswerHead head;
    for (const char *line : lines)
        readHeaderLine(head, line);
    return head;
}

} // namespace

TEST(AnswerCheck, EveryAnswerIsCheckedAgainstItsRequestAndThePinnedVersion)
{
    const FileVersion pinned{1000, "\"a\"", "", ""};
    const struct
    {
        const char *name;
        std::initializer_list<const char *> lines;
        std::int64_t from;
        std::optional<FileVersion> pinned;
        Kind kind;
        bool retryable;
        std::int64_t end;
        const char *ifRange = "";
    } cases[] = {
        {"206 from the offset asked", {"HTTP/1.1 206 Partial\r\n", "Content-Range: bytes 100-999/1000\r\n"}, 100,
            pinned, Kind::Range, false, 1000},
        {"206 from another offset", {"HTTP/1.1 206 Partial\r\n", "Content-Range: bytes 200-999/1000\r\n"}, 100, pinned,
            Kind::Refused, true, -1},
        {"206 whose length disagrees with its range",
            {"HTTP/1.1 206 Partial\r\n", "Content-Range: bytes 0-99/1000\r\n", "Content-Length: 200\r\n"}, 0,
            std::nullopt, Kind::Refused, true, -1},
        {"206 without a total", {"HTTP/1.1 206 Partial\r\n", "Content-Range: bytes 0-99/*\r\n"}, 0, std::nullopt,
            Kind::Refused, false, -1},
        {"206 without a range", {"HTTP/1.1 206 Partial\r\n", "Content-Length: 200\r\n"}, 0, std::nullopt, Kind::Refused,
            true, -1},
        {"206 of another total", {"HTTP/1.1 206 Partial\r\n", "Content-Range: bytes 0-99/2000\r\n"}, 0, pinned,
            Kind::Changed, false, -1},
        {"206 with another ETag", {"HTTP/1.1 206 Partial\r\n", "Content-Range: bytes 0-99/1000\r\n", "ETag: \"b\"\r\n"},
            0, pinned, Kind::Changed, false, -1},
        {"200 of the same size to a range: a whole file, never spliced",
            {"HTTP/1.1 200 OK\r\n", "Content-Length: 1000\r\n"}, 500, pinned, Kind::Anew, false, -1},
        {"200 from the start", {"HTTP/1.1 200 OK\r\n", "Content-Length: 1000\r\n"}, 0, pinned, Kind::Whole, false, -1},
        {"200 of another file", {"HTTP/1.1 200 OK\r\n", "Content-Length: 1000\r\n", "ETag: \"c\"\r\n"}, 500, pinned,
            Kind::Changed, false, -1},
        {"200 that is empty", {"HTTP/1.0 200 OK\r\n", "Content-length: 0\r\n"}, 0, std::nullopt, Kind::Empty, false,
            -1},
        {"416 to the first request", {"HTTP/1.1 416 No\r\n", "Content-Range: bytes */0\r\n"}, 0, std::nullopt,
            Kind::Empty, false, -1},
        {"416 without a range", {"HTTP/1.1 416 No\r\n"}, 0, std::nullopt, Kind::Empty, false, -1},
        {"416 within a file", {"HTTP/1.1 416 No\r\n", "Content-Range: bytes */1000\r\n"}, 100, pinned, Kind::Refused,
            true, -1},
        {"416 past the end", {"HTTP/1.1 416 No\r\n", "Content-Range: bytes */1000\r\n"}, 1000, pinned, Kind::Refused,
            false, -1},
        {"206 with the ETag that If-Range sent",
            {"HTTP/1.1 206 Partial\r\n", "Content-Range: bytes 100-999/1000\r\n", "ETag: \"a\"\r\n"}, 100, pinned,
            Kind::Range, false, 1000, "\"a\""},
        {"206 without the ETag that If-Range sent",
            {"HTTP/1.1 206 Partial\r\n", "Content-Range: bytes 100-999/1000\r\n"}, 100, pinned, Kind::Changed, false,
            -1, "\"a\""},
        {"200 to If-Range: changed", {"HTTP/1.1 200 OK\r\n", "Content-Length: 1000\r\n"}, 100, pinned, Kind::Changed,
            false, -1, "\"a\""},
        {"404", {"HTTP/1.1 404 Not Found\r\n"}, 0, std::nullopt, Kind::Refused, false, -1},
        {"408", {"HTTP/1.1 408 Timeout\r\n"}, 0, std::nullopt, Kind::Refused, true, -1},
        {"429", {"HTTP/1.1 429 Slow down\r\n"}, 0, std::nullopt, Kind::Refused, true, -1},
        {"503", {"HTTP/1.1 503 Busy\r\n"}, 0, std::nullopt, Kind::Refused, true, -1},
        {"204", {"HTTP/1.1 204 Nothing\r\n"}, 0, std::nullopt, Kind::Refused, false, -1},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        const AnswerVerdict verdict = judgeAnswer(headOf(row.lines), row.from, row.pinned, row.ifRange);
        EXPECT_EQ(verdict.kind, row.kind);
        if (row.kind == Kind::Refused) {
            EXPECT_EQ(verdict.error.retryable, row.retryable);
        }
        if (row.kind == Kind::Range) {
            EXPECT_EQ(verdict.end, row.end);
        }
    }
}

TEST(AnswerCheck, HeaderLinesEndAnswersAndAStatusLineStartsANewOne)
{
    AnswerHead head;
    EXPECT_FALSE(readHeaderLine(head, "HTTP/1.1 302 Found\r\n"));
    EXPECT_FALSE(readHeaderLine(head, "Location: /elsewhere\r\n"));
    EXPECT_FALSE(readHeaderLine(head, "Content-Length: 5\r\n"));
    EXPECT_TRUE(readHeaderLine(head, "\r\n"));
    EXPECT_TRUE(isInterim(head));
    EXPECT_FALSE(readHeaderLine(head, "HTTP/1.1 200 OK\r\n"));
    EXPECT_FALSE(readHeaderLine(head, "ETag: W/\"weak\"\r\n"));
    EXPECT_FALSE(readHeaderLine(head, "Last-Modified: Tue, 01 Aug 2023 10:00:00 GMT\r\n"));
    EXPECT_TRUE(readHeaderLine(head, "\n"));
    EXPECT_FALSE(isInterim(head));
    EXPECT_EQ(head.contentLength, -1);
    EXPECT_EQ(head.version.total, -1);
    // A weak ETag cannot pin a range: the date does.
    EXPECT_EQ(ifRangeValue(head.version), "Tue, 01 Aug 2023 10:00:00 GMT");
    EXPECT_EQ(ifRangeValue({5, "\"strong\"", "date", ""}), "\"strong\"");
}

TEST(AnswerCheck, TwoAnswersAreOfOneFileUnlessSomethingTheyBothSayDiffers)
{
    const struct
    {
        const char *name;
        FileVersion a;
        FileVersion b;
        bool same;
    } cases[] = {
        {"a date against an ETag", {5, "", "date", ""}, {-1, "\"x\"", "", ""}, true},
        {"two dates", {5, "", "date", ""}, {5, "", "other date", ""}, false},
        {"two totals", {5, "", "", ""}, {6, "", "", ""}, false},
        {"no validators from one origin", {5, "", "", "http://a/f"}, {5, "", "", "http://a/f"}, true},
        {"no validators from two origins", {5, "", "", "http://a/f"}, {5, "", "", "http://b/f"}, false},
        {"an ETag on one side from two origins", {5, "", "", "http://a/f"}, {5, "\"x\"", "", "http://b/f"}, false},
        {"one ETag from two origins", {-1, "\"x\"", "", "http://a/f"}, {-1, "\"x\"", "", "http://b/f"}, true},
        {"an origin not known yet", {5, "", "", ""}, {5, "", "", "http://b/f"}, true},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(sameFile(row.a, row.b), row.same);
        EXPECT_EQ(sameFile(row.b, row.a), row.same);
    }
    EXPECT_EQ(originOf("http://h/d/f.zip?sig=1&t=2#top"), "http://h/d/f.zip");
    EXPECT_EQ(originOf("http://h/f#a?b"), "http://h/f");
}

TEST(ControlFile, RoundTripsAndRefusesRecordsThatDoNotHoldTogether)
{
    const ControlRecord record{
        "http://h/f.zip", {1000, "\"e t\"", "Tue, 01 Aug 2023", ""}, {{0, 100}, {300, 1000}}, {"", rangeCheck("x")}};
    EXPECT_EQ(parseControl(formatControl(record)), record);
    EXPECT_EQ(parseControl(formatControl({"http://h/f", {}, {}, {}})), (ControlRecord{"http://h/f", {}, {}, {}}));
    const std::string head = "kavo-download 1\naddress http://h/f\n";
    for (const std::string &bad : {
             std::string(),
             std::string("kavo-download 2\naddress http://h/f\n"),
             std::string("kavo-download 1\n"),
             head + "total 1000\nrange 0 100\nrange 50 200\n",
             head + "total 1000\nrange 0 1001\n",
             head + "range 0 10\n",
             head + "total 1000\nrange 10 10\n",
             head + "total -5\n",
             head + "total 1000",
             head + "colour blue\n",
             head + "total 1000\nrange 0 10 xyz\n",
             std::string("kavo-download 1\naddress http://h/a b\n"),
         })
        EXPECT_EQ(parseControl(bad), std::nullopt) << bad;
}

TEST(Address, IsCheckedBeforeAnyConnectionAndNothingIsGuessed)
{
    const struct
    {
        std::string url;
        std::optional<std::string> accepted;
    } cases[] = {
        {"http://h/f.zip", "http://h/f.zip"},
        {"HTTPS://h/f", "HTTPS://h/f"},
        {" \thttp://h/f  ", "http://h/f"},
        {"http://h/\xCE\xC4\xBC\xFE?q=\xD6\xD0", "http://h/\xCE\xC4\xBC\xFE?q=\xD6\xD0"},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"h/f.zip", std::nullopt},
        {"127.0.0.1:8080/f", std::nullopt},
        {"ftp://h/f", std::nullopt},
        {"http://h/a b", std::nullopt},
        {"http://h/a\r\nX: y", std::nullopt},
        {std::string("http://h/a\0b", 12), std::nullopt},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.url);
        const auto checked = checkedAddress(row.url);
        EXPECT_EQ(checked.has_value(), row.accepted.has_value());
        if (row.accepted && checked.has_value()) {
            EXPECT_EQ(checked.value(), *row.accepted);
        }
        if (!row.accepted && !checked.has_value()) {
            EXPECT_EQ(checked.error().kind, DownloadError::Kind::Address);
        }
    }
}

TEST(Naming, LongNamesAreCutAtACharacterAndKeepTheirExtension)
{
    std::string chinese;
    for (int i = 0; i < 84; ++i)
        chinese += "软";
    const struct
    {
        std::string name;
        std::size_t limit;
        std::string fitted;
    } cases[] = {
        {"short.zip", 20, "short.zip"},
        {chinese + ".zip", 14, "软软软.zip"},
        {chinese + ".zip", 13, "软软软.zip"},
        {chinese + ".zip", 12, "软软.zip"},
        {chinese, 7, "软软"},
        {"a." + std::string(20, 'x'), 10, "a.xxxxxxxx"},
        {".hidden-long-name", 8, ".hidden-"},
        {"x.zip", 4, ""},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(fitName(row.name, row.limit), row.fitted);
    }
}

// Adversarial lines and their doubles: the work may grow about twice, never with the square.
TEST(ParserCost, HeaderLinesAndControlRecordsTakeLinearTime)
{
    const struct
    {
        const char *name;
        std::function<std::string(std::size_t)> input;
        std::function<void(const std::string &)> parse;
    } cases[] = {
        {"blanks around a header value",
            [](std::size_t n) { return "Content-Range:" + std::string(n, ' ') + "bytes 1-2/3" + std::string(n, ' '); },
            [](const std::string &line) {
                AnswerHead head;
                readHeaderLine(head, line);
                (void)parseContentRange(line);
            }},
        {"a long number", [](std::size_t n) { return "bytes " + std::string(n, '0') + "1-2/3"; },
            [](const std::string &line) { (void)parseContentRange(line); }},
        {"many colons", [](std::size_t n) { return std::string(n, ':'); },
            [](const std::string &line) { (void)headerValue(line, "Content-Length"); }},
        {"many ranges",
            [](std::size_t n) {
                std::string text = "kavo-download 1\naddress http://h/f\ntotal 999999999999\n";
                for (std::size_t i = 0; i < n / 16; ++i)
                    text += "range " + std::to_string(2 * i) + " " + std::to_string(2 * i + 1) + "\n";
                return text;
            },
            [](const std::string &text) { (void)parseControl(text); }},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(growsInProportion(row.input, row.parse, 1 << 13));
    }
}
