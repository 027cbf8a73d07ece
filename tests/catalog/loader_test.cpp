#include "catalog/loader.h"
#include "common/gbk.h"
#include "common/markers.h"
#include "support/growth.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace catalog;
using common::extractView;
using common::gbk;

namespace {

std::string record(std::string_view name, std::string_view size, std::string_view time, std::string_view address)
{
    return gbk("(软件名称：") + gbk(name) + gbk("-软件大小：") + gbk(size) + gbk("-分享时间：") + gbk(time)
        + gbk("-下载地址：") + gbk(address) + "-)";
}

const CatalogItem RowA{gbk("A"), "1MB", "2012.1.1", " http://x/a", gbk("  绿色软件")};

} // namespace

TEST(CategoryLoad, RecordsNeedSomethingAfterTheirClosingParenthesis)
{
    const std::string a = record("A", "1MB", "2012.1.1", "http://x/a");
    const struct
    {
        const char *name;
        std::string file;
        std::vector<CatalogItem> rows;
    } cases[] = {
        {"record and line break", a + "\r\n", {RowA}},
        {"record as the last bytes", a, {}},
        {"header line ignored", gbk("列表 版本1.0\r\n") + a + "\n", {RowA}},
        {"back to back: the first is skipped", a + a + "\n", {RowA}},
        {"two closing parentheses, then a line break", a + ")\n", {}},
        // Split at ")", "X))" gives "X" and one empty piece (the trailing one is dropped): exactly two parts.
        {"two closing parentheses right before the next record", a + ")" + a + "\n", {RowA, RowA}},
        {"two closing parentheses ending the text", a + ")", {RowA}},
        {"three closing parentheses", a + "))" + a + "\n", {RowA}},
        {"unclosed record", gbk("(软件名称：A-\n"), {}},
        {"text ends at the first zero byte", a + std::string("\0", 1) + "\n", {}},
        {"duplicates stay", a + "\n" + a + "\n", {RowA, RowA}},
        {"empty file", "", {}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(parseCategory(row.file, category(1)), row.rows);
    }
}

TEST(CategoryLoad, ScannerAgreesWithSplittingTheWholeText)
{
    // The rule in its plainest form: cut at the zero byte, split at "(", keep members that split at ")" into
    // exactly two parts. Lead bytes make some parentheses second bytes that must not count.
    const auto byTheRule = [](std::string_view file) {
        std::vector<std::string_view> bodies;
        for (const std::string_view member : common::splitText(common::untilZero(file), "(")) {
            const std::vector<std::string_view> parts = common::splitText(member, ")");
            if (parts.size() == 2)
                bodies.push_back(parts.front());
        }
        return bodies;
    };
    std::mt19937 random(7);
    const std::string alphabet{'(', ')', ')', 'a', '-', '\x81', '\xA3', '\0'};
    for (int round = 0; round < 20000; ++round) {
        std::string file(random() % 24, ' ');
        for (char &c : file)
            c = alphabet[random() % (round % 100 == 0 ? alphabet.size() : alphabet.size() - 1)];
        ASSERT_EQ(recordBodies(file), byTheRule(file)) << testing::PrintToString(file);
    }
}

TEST(CategoryLoad, FieldsAreTheFirstKeyMatchesOfMarkerExtraction)
{
    // Keys repeated, cut short, glued to lead bytes and dashes: each field is still what marker extraction
    // with the key and "-" gives.
    std::mt19937 random(5);
    for (const Category &c : categories()) {
        const std::string pieces[] = {c.nameKey, c.sizeKey, timeKey(), addressKey(), c.nameKey.substr(0, 4),
            timeKey().substr(2), "-", "x", "\x81", gbk("：")};
        const std::string keys[] = {c.nameKey, c.sizeKey, timeKey(), addressKey()};
        for (int round = 0; round < 3000; ++round) {
            std::string body;
            const auto some = [&](int most) {
                for (int n = random() % most; n > 0; --n)
                    body += pieces[random() % std::size(pieces)];
            };
            if (round % 2 == 0) {
                some(12);
            } else { // the keys in their usual order, with values that may hold anything
                for (const std::string &key : keys) {
                    body += key;
                    some(3);
                    body += "-";
                }
            }
            const ItemView view = viewFromBody(body, c);
            ASSERT_EQ(view.name, extractView(body, c.nameKey, "-")) << testing::PrintToString(body);
            ASSERT_EQ(view.size, extractView(body, c.sizeKey, "-")) << testing::PrintToString(body);
            ASSERT_EQ(view.time, extractView(body, timeKey(), "-")) << testing::PrintToString(body);
            ASSERT_EQ(view.address, extractView(body, addressKey(), "-")) << testing::PrintToString(body);
        }
    }
}

TEST(CategoryLoad, FieldsFollowTheirKeysInAnyOrder)
{
    const std::string body = gbk("(下载地址：http://x/a-分享时间：2012.1.1-软件名称：A-软件大小：1MB-)\n");
    EXPECT_EQ(parseCategory(body, category(1)), std::vector<CatalogItem>{RowA});

    const auto rows = parseCategory(gbk("(软件名称：Win-XP-软件名称：B-分享时间：2012-01-01-)\n"), category(1));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "Win");
    EXPECT_EQ(rows[0].time, "2012");
    EXPECT_EQ(rows[0].address, " ");
    EXPECT_EQ(rows[0].size, "");
}

TEST(CategoryLoad, EachCategoryUsesItsOwnKeysAndTag)
{
    const std::string file = gbk("(文本名称：T-文本大小：2KB-)\n(软件名称：S-)\n");
    const auto rows = parseCategory(file, category(4));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "T");
    EXPECT_EQ(rows[0].size, "2KB");
    EXPECT_EQ(rows[0].tag, gbk("  安全文本"));
    EXPECT_EQ(rows[1].name, "");
}

TEST(CategoryLoad, Utf8FileGivesEmptyFieldsAndUtf16FileGivesNothing)
{
    const std::string utf8 = "(软件名称：A-)\n";
    const auto rows = parseCategory(utf8, category(1));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "");
    EXPECT_EQ(rows[0].address, " ");
    EXPECT_EQ(rows[0].tag, gbk("  绿色软件"));
    EXPECT_TRUE(parseCategory(std::string("(\0A\0)\0\n\0", 8), category(1)).empty());
}

TEST(CategoryLoad, ReadsTheCategoryFileOfTheProgramDirectory)
{
    TempDir dir;
    EXPECT_TRUE(loadCategory(dir.path(), category(2)).empty());
    writeFile(dir.path() / "自动更新" / "源码下载.txt", gbk("(源码名称：S-源码大小：1KB-)\r\n"));
    const auto rows = loadCategory(dir.path(), category(2));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "S");
    EXPECT_EQ(rows[0].tag, gbk("  绿色源码"));
}

TEST(CategoryLoad, OnlyRegularFilesAreReadAndWhatCannotBeReadSaysWhy)
{
    // A pipe would keep the reader waiting, at its opening or, with a writer that never writes, at its first read.
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir.path() / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir.path() / "held pipe").c_str(), 0600), 0);
    const int holder = ::open((dir.path() / "held pipe").c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    std::filesystem::create_directory(dir.path() / "folder");
    writeFile(dir.path() / "file", "(a)\n");
    const struct
    {
        const char *name;
        std::optional<platform::FileError> cause;
        std::size_t stretches;
    } cases[] = {
        {"file", std::nullopt, 2}, // "" and "a)\n"
        {"missing", std::nullopt, 0},
        {"pipe", platform::FileError{platform::FileError::Kind::NotAFile, EINVAL}, 0},
        {"held pipe", platform::FileError{platform::FileError::Kind::NotAFile, EINVAL}, 0},
        {"folder", platform::FileError{platform::FileError::Kind::NotAFile, EISDIR}, 0},
        {"file/below a file", platform::FileError{platform::FileError::Kind::System, ENOTDIR}, 0},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        std::size_t stretches = 0;
        const auto read = forEachStretch(dir.path() / row.name, [&stretches](std::string_view) {
            ++stretches;
            return true;
        });
        EXPECT_EQ(stretches, row.stretches);
        ASSERT_EQ(read.has_value(), !row.cause);
        if (row.cause) {
            EXPECT_EQ(read.error().file, dir.path() / row.name);
            EXPECT_EQ(read.error().cause.kind, row.cause->kind);
            EXPECT_EQ(read.error().cause.code, row.cause->code);
        }
    }
    ::close(holder);
}

TEST(CategoryLoad, StopsReadingWhenTheRowsAreNoLongerTaken)
{
    TempDir dir;
    std::string file;
    for (int i = 0; i < 20000; ++i)
        file += gbk("(软件名称：") + std::string(20, 'x') + "-)\n";
    writeFile(categoryFile(dir.path(), category(1)), file);
    int takes = 0;
    loadCategory(dir.path(), category(1), [&takes](std::vector<CatalogItem> rows) {
        EXPECT_FALSE(rows.empty());
        return ++takes < 2;
    });
    EXPECT_EQ(takes, 2);
}

TEST(CategoryLoad, StretchesOfALargeFileGiveTheWholeTextInWholeMembers)
{
    // Members of every length, one far longer than the read buffer, lead bytes right before "(" at any
    // offset, and a zero byte that ends the text: the file is read in pieces, never split inside a member.
    std::mt19937 random(3);
    std::string text;
    while (text.size() < 900 * 1024) {
        const std::size_t length = text.size() > 300 * 1024 && text.size() < 310 * 1024 ? 400 * 1024 : random() % 300;
        std::string member(length, 'x');
        for (char &c : member)
            c = "ab-)\x81\xA3("[random() % (random() % 50 == 0 ? 7 : 6)];
        text += "(" + member;
    }
    TempDir dir;
    for (const std::string &file : {text, text.substr(0, 700 * 1024) + '\0' + text.substr(700 * 1024)}) {
        writeFile(dir.path() / "f.txt", file);
        std::string joined;
        std::vector<std::string_view> bodies;
        std::vector<std::string> stretches;
        ASSERT_TRUE(forEachStretch(dir.path() / "f.txt", [&](std::string_view stretch) {
            joined += (stretches.empty() ? "" : "(") + std::string(stretch);
            stretches.emplace_back(stretch);
            return true;
        }).has_value());
        ASSERT_EQ(joined, common::untilZero(file));
        for (const std::string &stretch : stretches)
            forEachBody(stretch, [&bodies](std::string_view body) { bodies.push_back(body); });
        EXPECT_EQ(bodies, recordBodies(file));
        EXPECT_GT(stretches.size(), 4u);
    }
}

TEST(CategoryLoad, StretchesNeverEndAtAParenthesisInsideACharacter)
{
    // A "(" right after a lone lead byte is the second half of a character, and the member goes on across it.
    // Each file puts such a pair at another place around the end of the first read, where it is the last "("
    // the reader has seen.
    constexpr std::size_t stretch = 256;
    TempDir dir;
    for (std::size_t at = stretch - 8; at < stretch + 8; ++at) {
        const std::string file = "(" + std::string(at, 'a') + "\x81(b)\n(c)\n";
        SCOPED_TRACE(at);
        writeFile(dir.path() / "f.txt", file);
        std::vector<std::string> bodies;
        ASSERT_TRUE(forEachStretch(
            dir.path() / "f.txt",
            [&bodies](std::string_view text) {
                forEachBody(text, [&bodies](std::string_view body) { bodies.emplace_back(body); });
                return true;
            },
            stretch)
                        .has_value());
        EXPECT_EQ(bodies, (std::vector<std::string>{std::string(at, 'a') + "\x81(b", "c"}));
    }
}

TEST(CategoryLoad, StretchesOfSmallReadsGiveTheSameRecordsAsTheWholeText)
{
    // Many files read a few hundred bytes at a time, so that stretches end next to lead bytes of every kind.
    TempDir dir;
    for (unsigned seed = 0; seed < 200; ++seed) {
        std::mt19937 random(seed);
        std::string file(4000, ' ');
        for (char &c : file)
            c = "ab)\n\x81\xA3(("[random() % 8];
        writeFile(dir.path() / "f.txt", file);
        std::vector<std::string_view> bodies;
        std::vector<std::string> stretches;
        ASSERT_TRUE(forEachStretch(
            dir.path() / "f.txt",
            [&stretches](std::string_view text) {
                stretches.emplace_back(text);
                return true;
            },
            200 + seed)
                        .has_value());
        for (const std::string &text : stretches)
            forEachBody(text, [&bodies](std::string_view body) { bodies.push_back(body); });
        ASSERT_EQ(bodies, recordBodies(file)) << "seed " << seed;
    }
}

TEST(CategoryLoad, CostGrowsInProportionToTheFile)
{
    // Keys shifted off the character boundaries by a lone lead byte, many to a record; parentheses hidden in
    // characters; records with no end.
    const std::string key = category(1).nameKey;
    const struct
    {
        const char *name;
        std::function<std::string(std::size_t)> make;
    } files[] = {
        {"shifted keys", [&key](std::size_t copies) { return "(\x81" + repeated(key, copies) + "-)\n"; }},
        {"hidden parentheses", [](std::size_t copies) { return "(" + repeated("\x81(\x81)", copies) + ")\n"; }},
        {"lead bytes before parentheses", [](std::size_t copies) { return repeated("\x81\x81\x81)(", copies); }},
        {"one open record", [&key](std::size_t copies) { return "(" + repeated(key + "a-", copies); }},
    };
    for (const auto &file : files) {
        SCOPED_TRACE(file.name);
        EXPECT_TRUE(growsInProportion(
            file.make, [](const std::string &bytes) { parseCategory(bytes, category(1)); }, 1 << 10));
    }
}

TEST(CategoryTable, NamesAndNumbersResolve)
{
    EXPECT_EQ(categoryNumber(gbk("电脑技术")), 4);
    EXPECT_EQ(categoryNumber("5"), 5);
    EXPECT_EQ(categoryNumber("6"), 0);
    EXPECT_EQ(categoryNumber(gbk("其他")), 0);
    EXPECT_EQ(category(3).searchIcon, 1);
}

// The netdisk tool checks a file against the SHA-256 its record carries, found by the record's address.
TEST(RecordChecksum, TheFirstRecordWithTheAddressGivesIt)
{
    TempDir home;
    const std::string hex = common::toHex(common::sha256("file"));
    std::filesystem::create_directories(home.path() / "自动更新");
    writeFile(home.path() / "自动更新" / "常用软件.txt",
        gbk("(软件名称：A-下载地址：http://a/1-)\r\n(软件名称：B-下载地址：http://a/2-SHA256：") + hex
            + "-)\r\n(软件名称：C-下载地址：http://a/22-SHA256：" + std::string(64, '0') + "-)\r\n");
    EXPECT_EQ(recordChecksum(home.path(), " http://a/2"), common::sha256("file"));
    EXPECT_EQ(recordChecksum(home.path(), "http://a/1"), std::nullopt);
    EXPECT_EQ(recordChecksum(home.path(), "http://a/3"), std::nullopt);
    EXPECT_EQ(recordChecksum(home.path(), " "), std::nullopt);
}
