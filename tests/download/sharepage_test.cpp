#include "common/gbk.h"
#include "download/sharepage.h"
#include "support/growth.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>

using namespace download;
using common::gbk;

namespace {

std::string page(std::string_view description, std::string_view open = "<meta content=\"")
{
    return gbk(std::string(open) + "文件名:" + std::string(description) + "\" name=\"description\"/>");
}

} // namespace

TEST(SharePage, ReadsTheFactsOfTheDescription)
{
    const ShareFacts facts = parseSharePage(page("a b.zip 文件大小:1.5MB 分享者:x 分享时间:2024.1.2 下载次数:77"));
    EXPECT_EQ(facts.name, "a b.zip");
    EXPECT_EQ(facts.size, "1.5MB");
    EXPECT_EQ(facts.time, "2024.1.2");
    EXPECT_EQ(facts.count, "77");
    EXPECT_EQ(statusLineText(facts), gbk("文件大小：1.5MB 分享时间；2024.1.2 下载次数；77次"));
}

TEST(SharePage, MetaMarkersInAnyCaseAndTheLastCount)
{
    const ShareFacts upper = parseSharePage(
        gbk("<META CONTENT=\"文件名:n 文件大小:1KB 分享者:x 分享时间:t 下载次数:1\" NAME=\"DESCRIPTION\"/>"));
    EXPECT_EQ(upper.size, "1KB");
    const ShareFacts twice = parseSharePage(page("n 文件大小:1KB 分享者:x 分享时间:t 下载次数:1 下载次数:2"));
    EXPECT_EQ(twice.count, "2");
    EXPECT_EQ(twice.time, "t");
    const ShareFacts none = parseSharePage("<html>no description</html>");
    EXPECT_TRUE(none.description.empty());
    EXPECT_TRUE(none.size.empty());
}

TEST(SharePage, DirectLinkIsLiteralAndUnescaped)
{
    EXPECT_EQ(extractDirectLink(R"(x"dlink\":\"http:\\/\\/h\\/f?a=1\",)"), "http://h/f?a=1");
    EXPECT_EQ(extractDirectLink(R"("DLINK\":\"http:\\/\\/h\")"), "");
    EXPECT_EQ(extractDirectLink(R"(dlink\":\"no end)"), "");
    EXPECT_EQ(extractDirectLink(R"(dlink\":\"a\\\\//b\")"), "a//b");
    // Found by fuzzing: a backslash that is the second byte of a character is no escape (this used to hang).
    EXPECT_EQ(extractDirectLink("dlink\\\":\\\"h:\\\\\xAF\\\\/x\\\""), "h:\\\\\xAF\\\\/x");
    EXPECT_EQ(
        secondPageAddress("http://h/share/link?shareid=1&amp;uk=2"), "http://h/share/link?shareid=1&uk=2&third=0");
}

TEST(SharePage, OnePassUnescapeGivesWhatRepeatedReplacementGives)
{
    // The rule as written: replace every "\\/" on character boundaries, left to right, until none is left.
    const auto byTheRule = [](std::string link) {
        while (common::findText(link, R"(\\/)") != common::NotFound)
            link = common::replaceAll(link, R"(\\/)", "/");
        return link;
    };
    std::mt19937 random(29);
    for (int round = 0; round < 20000; ++round) {
        std::string link(random() % 16, ' ');
        for (char &c : link)
            c = "\\\\\\//a\x81\xAF"[random() % 8];
        ASSERT_EQ(unescapeSlashes(link), byTheRule(link)) << testing::PrintToString(link);
    }
}

TEST(SharePage, CostGrowsInProportionToThePage)
{
    const struct
    {
        const char *name;
        std::function<std::string(std::size_t)> make;
        std::function<void(const std::string &)> read;
        std::size_t copies;
    } pages[] = {
        {"direct link of backslashes",
            [](std::size_t copies) { return R"(dlink\":\")" + repeated("\\", copies) + R"(/x\")"; },
            [](const std::string &page) { extractDirectLink(page); }, 1 << 13},
        {"description of repeated counts",
            [](std::size_t copies) {
                return gbk("<meta content=\"文件名:") + "\x81" + repeated(gbk(" 下载次数:文件大小:"), copies)
                    + "\" name=\"description\"/>";
            },
            [](const std::string &page) { parseSharePage(page); }, 1 << 9},
        {"unfinished meta markers", [](std::size_t copies) { return repeated("<META CONTENT=\"\x81", copies); },
            [](const std::string &page) { parseSharePage(page); }, 1 << 10},
    };
    for (const auto &page : pages) {
        SCOPED_TRACE(page.name);
        EXPECT_TRUE(growsInProportion(page.make, page.read, page.copies));
    }
}

TEST(SharePage, FileNamesStayInsideTheFolder)
{
    const struct
    {
        std::string in, out;
    } cases[] = {
        {"setup.exe", "setup.exe"}, {"../../etc/passwd", ".._.._etc_passwd"}, {"..", "download"}, {"", "download"},
        {"  ", "download"},
        {"a\x01"
         "b\\c:d",
            "a_b_c_d"},
        {"name.", "name"}, {gbk("中文名.zip"), gbk("中文名.zip")},
        {"\x81\x5C"
         "x",
            "\x81\x5C"
            "x"}, // a backslash as second byte stays part of its character
    };
    for (const auto &row : cases)
        EXPECT_EQ(safeFileName(row.in), row.out) << row.in;
    EXPECT_EQ(safeFileName(std::string(300, 'a')).size(), 200u);
    std::string chinese;
    for (int i = 0; i < 110; ++i)
        chinese += gbk("软");
    EXPECT_EQ(safeFileName(chinese + ".zip"), chinese.substr(0, 196) + ".zip");
}

TEST(SharePage, ResolutionReadsTheSecondPageOnlyForAShareWithASize)
{
    std::vector<std::string> asked;
    const auto fetch = [&asked](const std::string &url) {
        asked.push_back(url);
        if (url.find("third=0") != std::string::npos)
            return std::string(R"(dlink\":\"http:\\/\\/h\\/f\")");
        return std::string(
            "<meta content=\"%E6%96%87%E4%BB%B6%E5%90%8D:f.zip 文件大小:2MB 分享者:x 分享时间:t 下载次数:3\" "
            "name=\"description\"/>");
    };
    const ShareResolution ok = resolveShare("http://h/share/link?shareid=1&amp;uk=2", fetch);
    EXPECT_TRUE(ok.supported);
    EXPECT_EQ(ok.facts.name, "f.zip");
    EXPECT_EQ(ok.directLink, "http://h/f");
    EXPECT_EQ(asked,
        (std::vector<std::string>{
            "http://h/share/link?shareid=1&amp;uk=2", "http://h/share/link?shareid=1&uk=2&third=0"}));
    asked.clear();
    const ShareResolution refused = resolveShare("http://h/x", [&](const std::string &url) {
        asked.push_back(url);
        return std::string();
    });
    EXPECT_FALSE(refused.supported);
    EXPECT_EQ(asked.size(), 1u);
}
