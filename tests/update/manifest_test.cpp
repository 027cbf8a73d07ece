#include "catalog/category.h"
#include "common/gbk.h"
#include "download/progress.h"
#include "support/growth.h"
#include "support/tempdir.h"
#include "update/listfile.h"
#include "update/manifest.h"

#include <gtest/gtest.h>
#include <map>

using namespace update;
using common::gbk;

namespace {

// A manifest reader over a fixed page, counting the labels asked for.
struct FakeManifest
{
    explicit FakeManifest(std::string served)
        : page(std::move(served))
    {
    }
    std::string page; // UTF-8, as served
    std::vector<std::string> asked;

    std::string field(const std::string &label)
    {
        asked.push_back(label);
        return readManifestField([this](const std::string &) { return page; }, "http://manifest", label);
    }
};

std::optional<UpdateOffer> check(FakeManifest &manifest, const std::map<int, std::string> &local = {})
{
    return checkVersions([&](const std::string &label) { return manifest.field(label); },
        [&](int category) { return local.count(category) ? local.at(category) : "1.0"; });
}

} // namespace

TEST(ManifestField, CutAtTheHyphenAfterTheFirstLabel)
{
    FakeManifest m{"<p>常用软件版本：1.3-test- 常用软件：是- 公告：- 广告：Hello-</p>"};
    EXPECT_EQ(m.field(gbk("常用软件版本：")), "1.3");
    EXPECT_EQ(m.field(gbk("常用软件：")), gbk("是"));
    EXPECT_EQ(m.field(gbk("公告：")), "");
    EXPECT_EQ(m.field(gbk("广告：")), "Hello");
    EXPECT_EQ(m.field(gbk("源码下载：")), "");
    FakeManifest broken{"常用软件：是- \xFF"};
    EXPECT_EQ(broken.field(gbk("常用软件：")), ""); // one bad byte empties the whole page
}

TEST(ManifestField, CostGrowsInProportionToThePage)
{
    // Copies of the label one byte off the character boundaries, as a page in valid UTF-8 can carry them: the
    // first character takes the label's first byte as its second.
    const std::string label = gbk("电脑技术：");
    const auto shifted = [&label](std::size_t copies) {
        return common::utf8FromGbk("\x81" + repeated(label, copies) + label.substr(0, 1) + "-");
    };
    const std::string sample = shifted(100);
    ASSERT_EQ(sample.find("\xEF\xBF\xBD"), std::string::npos); // every pair is a character
    const auto read = [&label](const std::string &page) {
        EXPECT_EQ(readManifestField([&page](const std::string &) { return page; }, "http://manifest", label), "");
    };
    EXPECT_TRUE(growsInProportion(shifted, read, 1 << 10));
}

TEST(VersionCheck, FirstFlaggedCategoryDecidesAndNothingAfterIt)
{
    FakeManifest same{"常用软件：是- 常用软件版本：1.0- 源码下载：是- 源码下载版本：2.0-"};
    EXPECT_EQ(check(same), std::nullopt);
    EXPECT_EQ(same.asked, (std::vector<std::string>{gbk("常用软件："), gbk("常用软件版本：")}));

    FakeManifest last{"源码下载：是- 源码下载版本：2.0-"};
    const auto offer = check(last);
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->category, 2);
    EXPECT_EQ(offer->remoteVersion, "2.0");
    EXPECT_EQ(last.asked.size(), 6u); // four empty flags, then the flag and the version of 源码下载
}

TEST(VersionCheck, OnlyExactlyYesIsAFlagAndAnyDifferenceIsAnOffer)
{
    FakeManifest blank{"常用软件：是 - 常用软件版本：9- 电脑技术：Yes- 电脑技术版本：9-"};
    EXPECT_EQ(check(blank), std::nullopt);
    FakeManifest empty{"模块下载：是- 模块下载版本：-"};
    ASSERT_TRUE(check(empty));
    EXPECT_EQ(check(empty)->remoteVersion, "");
    FakeManifest lower{"软件下载：是- 软件下载版本：0.9-"};
    EXPECT_EQ(check(lower, {{1, "1.0"}})->remoteVersion, "0.9");
    FakeManifest padded{"软件下载：是- 软件下载版本：1.00-"};
    EXPECT_TRUE(check(padded, {{1, "1.0"}}));
}

TEST(UpdateProgress, RoundsTheBarBeforeCuttingIt)
{
    EXPECT_EQ(download::progressView(999, 2000.0, 1e-12).labelPercent, 49);
    EXPECT_EQ(download::progressView(999, 2000.0, 1e-12).barPosition, 49);
    EXPECT_EQ(download::progressView(19999, 40000.0, 1e-12).labelPercent, 49);
    EXPECT_EQ(download::progressView(19999, 40000.0, 1e-12).barPosition, 50);
    EXPECT_EQ(download::progressView(375, 1000.0, 1e-12).labelPercent, 37);
    // 29 / 100 * 100 is 28.999999999999996 in doubles: the label still shows 29.
    EXPECT_EQ(download::progressView(29, 100.0, 1e-12).labelPercent, 29);
    EXPECT_EQ(download::progressView(5, 0.0, 1e-12).labelPercent, 0);
}

TEST(ListFile, ReplacesWholeOrNotAtAll)
{
    TempDir dir;
    const auto list = dir.path() / "list.txt";
    writeFile(list, "old");
    const auto missing = replaceList(dir.path() / "missing", list);
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().kind, ListError::Kind::NotReplaced);
    EXPECT_EQ(readFile(list), "old");
    writeFile(pendingListPath(list), "new");
    EXPECT_EQ(pendingListPath(list).filename(), "list.txt.new");
    EXPECT_TRUE(replaceList(pendingListPath(list), list).has_value());
    EXPECT_EQ(readFile(list), "new");
    EXPECT_FALSE(std::filesystem::exists(pendingListPath(list)));
}

// A new list's place is its folder, made when missing, without an old pending file; a folder that cannot be
// made is a reason, not a download that later says the folder is missing.
TEST(ListFile, ThePendingPlaceIsClearedOrSaysWhyNot)
{
    TempDir dir;
    const std::filesystem::path list = dir.path() / "自动更新" / "模块下载.txt";
    const auto cleared = clearPendingList(list);
    ASSERT_TRUE(cleared.has_value());
    EXPECT_TRUE(std::filesystem::is_directory(list.parent_path()));
    writeFile(cleared.value(), "left over");
    ASSERT_TRUE(clearPendingList(list).has_value());
    EXPECT_FALSE(std::filesystem::exists(cleared.value()));

    writeFile(dir.path() / "file", "x");
    const auto refused = clearPendingList(dir.path() / "file" / "模块下载.txt");
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(common::utf8FromGbk(refused.error()).rfind("无法建立文件夹 ", 0), 0u)
        << common::utf8FromGbk(refused.error());
}

TEST(ListFile, OnlyAListOrABlankFileMayTakeTheListsPlace)
{
    TempDir dir;
    const catalog::Category &modules = catalog::category(3);
    const std::string key = gbk("模块名称：");
    const struct
    {
        const char *name;
        std::string bytes;
        bool isList;
    } cases[]{
        {"a list", "(" + key + "A-)\r\n", true},
        {"a list after other text", std::string(300000, '<') + "(" + gbk("下载地址：") + "http://a-)\n", true},
        {"an empty list", "", true},
        {"blank lines", "\r\n \t\r\n", true},
        {"an error page", "<html><body><h1>502 Bad Gateway</h1></body></html>\r\n", false},
        {"records that name nothing", "((()\r\n(x)\r\n" + std::string(300000, ')'), false},
        {"another category's key", "(" + gbk("文本名称：") + "A-)\r\n", false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        writeFile(dir.path() / "new", row.bytes);
        EXPECT_EQ(isCategoryList(dir.path() / "new", modules).has_value(), row.isList);
    }
    EXPECT_FALSE(isCategoryList(dir.path() / "missing", modules).has_value());
}
