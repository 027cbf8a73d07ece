#include "catalog/loader.h"
#include "common/gbk.h"
#include "publish/filebatch.h"
#include "publish/manifestpage.h"
#include "publish/outputlock.h"
#include "publish/publisher.h"
#include "publish/sources.h"
#include "support/process.h"
#include "support/tempdir.h"
#include "update/manifest.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

using namespace publish;
using common::gbk;

namespace {

const std::string Address = "http://lists.example/share/link?list={category}";

// A sources folder with every file a publish needs, empty until a test writes into it.
class SourceFolder
{
public:
    SourceFolder()
    {
        for (const char *name :
            {"软件下载.tsv", "源码下载.tsv", "模块下载.tsv", "电脑技术.tsv", "常用软件.tsv", "公告.txt", "广告.txt"})
            write(name, "");
    }
    void write(const std::string &name, const std::string &text) const { writeFile(m_dir.path() / name, text); }
    void append(const std::string &name, const std::string &text) const
    {
        write(name, readFile(m_dir.path() / name) + text);
    }
    const std::filesystem::path &path() const { return m_dir.path(); }

private:
    TempDir m_dir;
};

// Every file below `folder` with its bytes.
std::map<std::string, std::string> snapshot(const std::filesystem::path &folder)
{
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(folder))
        return files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        files[entry.path().lexically_relative(folder).string()] = entry.is_regular_file() ? readFile(entry) : "/";
    return files;
}

std::string problemsText(const Problems &problems)
{
    std::string text;
    for (const Problem &problem : problems)
        text += describe(problem) + "\n";
    return text;
}

// The version check against a published manifest, with the given local versions ("1.0" for the rest).
std::optional<update::UpdateOffer> offerFrom(
    const std::filesystem::path &tree, const std::map<int, std::string> &local = {})
{
    const std::string page = readFile(tree / "manifest.html");
    return update::checkVersions(
        [&page](const std::string &label) {
            return update::readManifestField([&page](const std::string &) { return page; }, "", label);
        },
        [&local](int category) { return local.count(category) ? local.at(category) : "1.0"; });
}

ManifestContent published(const std::filesystem::path &tree)
{
    return readManifest(readFile(tree / "manifest.html"));
}

} // namespace

TEST(PublishSources, EveryRecordFlawNamesItsLineFieldAndFix)
{
    using Kind = Flaw::Kind;
    const struct
    {
        const char *name;
        std::string text;
        int line;
        std::string field;
        Kind kind;
        std::string suggestion; // the value the fix offers, at its end; empty when it offers none
        std::size_t count = 1; // the problems of the line; the first is checked
    } cases[] = {
        {"a hyphen cuts the value", "7-Zip\t1MB\t2024.1.1\thttp://a\n", 1, "软件名称", Kind::Hyphen, "7－Zip"},
        {"an opening parenthesis starts a record", "A\t(1MB\t2024\thttp://a\n", 1, "文件大小", Kind::OpeningParenthesis,
            "（1MB"},
        {"one fix mends every delimiter", "A(1)\t1MB\t2024\thttp://a\n", 1, "软件名称", Kind::OpeningParenthesis,
            "A（1）", 2},
        {"an address escapes its delimiters", "A\t1MB\t2024\thttp://a/(x)-y\n", 1, "下载地址", Kind::Hyphen,
            "http://a/%28x%29%2Dy", 3},
        {"a closing parenthesis ends it", "A\t1MB\t2024)\thttp://a\n", 1, "分享时间", Kind::ClosingParenthesis,
            "2024）"},
        {"the key of a later field", "大小 软件大小：9GB\t1MB\t2024\thttp://a\n", 1, "软件名称", Kind::KeyOfLaterField,
            "大小 软件大小:9GB"},
        {"the address key in the time", "A\t1MB\t下载地址：x\thttp://a\n", 1, "分享时间", Kind::KeyOfLaterField,
            "下载地址:x"},
        {"a hyphen in the host name", "A\t1MB\t2024\thttp://my-site/a\n", 1, "下载地址", Kind::DelimiterInHost, ""},
        {"too few fields", "A\t1MB\t2024\n", 1, "", Kind::FieldCount, ""},
        {"too many fields", "A\t1MB\t2024\thttp://a\tx\ty\n", 1, "", Kind::FieldCount, ""},
        {"a fifth field that is no SHA-256", "A\t1MB\t2024\thttp://a\tabc\n", 1, "SHA256", Kind::NotSha256, ""},
        {"a value that would read as the checksum", "A SHA256：x\t1\t2\t3\t" + std::string(64, 'a') + "\n", 1, "",
            Kind::ChecksumKeyInValue, ""},
        {"no GBK form", "A 😀\t1MB\t2024\thttp://a\n", 1, "软件名称", Kind::NoGbkForm, ""},
        {"not UTF-8", "A\t1\xFF\t2024\thttp://a\n", 1, "文件大小", Kind::NotUtf8, ""},
        {"a zero byte", std::string("A") + '\0' + "B\t1MB\t2024\thttp://a\n", 1, "软件名称", Kind::ZeroByte, ""},
        {"lines counted past comments and blanks", "# 注释\n\n \t\nA\t1\t2\t3\n7-Zip\t1\t2\t3\n", 5, "软件名称",
            Kind::Hyphen, "7－Zip"},
        {"CR LF lines", "A\t1\t2\t3\r\nB\t1\t2\t3-4\r\n", 2, "下载地址", Kind::Hyphen, "3%2D4"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        Problems problems;
        parseCategorySource(row.text, catalog::category(1), "SRC/软件下载.tsv", problems);
        ASSERT_EQ(problems.size(), row.count) << problemsText(problems);
        const Problem &problem = problems.front();
        EXPECT_EQ(problem.file, "SRC/软件下载.tsv");
        EXPECT_EQ(problem.line, row.line);
        EXPECT_EQ(problem.field, row.field);
        EXPECT_EQ(problem.flaw.kind, row.kind) << describe(problem);
        EXPECT_FALSE(problem.flaw.reason.empty());
        EXPECT_TRUE(problem.flaw.fix.ends_with(row.suggestion)) << problem.flaw.fix;
    }
}

// What the value would be cut to, and the character that GBK lacks, are named in the reason.
TEST(PublishSources, TheReasonNamesWhatTheProgramWouldRead)
{
    const std::pair<std::string, std::string> cases[] = {
        {"7-Zip\t1\t2\t3\n", "\"7\""},
        {"A\t1\t2\thttp://my-site/a\n", "\"http://my\""},
        {"A 😀\t1\t2\t3\n", "\"😀\"（U+1F600）"},
        {"A\t1\xFF\t2\t3\n", "0xFF"},
    };
    for (const auto &[text, named] : cases) {
        Problems problems;
        parseCategorySource(text, catalog::category(1), "f", problems);
        ASSERT_EQ(problems.size(), 1u) << problemsText(problems);
        EXPECT_NE(problems.front().flaw.reason.find(named), std::string::npos) << problems.front().flaw.reason;
    }
}

TEST(PublishSources, EveryManifestTextAndFileFlawIsReported)
{
    using Kind = Flaw::Kind;
    const struct
    {
        const char *name;
        std::string file;
        std::string text; // nothing written: the file is removed
        int line;
        std::string field;
        Kind kind;
        std::string suggestion;
    } cases[] = {
        {"a hyphen in the notice", "公告.txt", "第一行\n第二行 (新) - 完\n", 2, "公告", Kind::Hyphen,
            "第二行 (新) － 完"},
        {"the advertisement's label in the notice", "公告.txt", "见广告：下方\n", 1, "公告",
            Kind::AdvertisementLabelInNotice, "见广告:下方"},
        {"a second advertisement line", "广告.txt", "\n一行\n两行\n\n", 3, "广告", Kind::SecondAdvertisementLine, ""},
        {"an advertisement without GBK form", "广告.txt", "好 𝄞\n", 1, "广告", Kind::NoGbkForm, ""},
        {"a zero byte in the notice", "公告.txt", std::string("a\0b\n", 4), 1, "公告", Kind::ZeroByte, ""},
        {"a stray table", "软件.tsv", "x", 0, "", Kind::StrayTable, ""},
        {"a missing category", "常用软件.tsv", "", 0, "", Kind::MissingSource, ""},
        {"a missing notice", "公告.txt", "", 0, "", Kind::MissingSource, ""},
        {"a missing advertisement", "广告.txt", "", 0, "", Kind::MissingSource, ""},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        const SourceFolder sources;
        if (row.text.empty())
            std::filesystem::remove(sources.path() / row.file);
        else
            sources.write(row.file, row.text);
        Problems problems;
        readSources(sources.path(), problems);
        ASSERT_EQ(problems.size(), 1u) << problemsText(problems);
        const Problem &problem = problems.front();
        EXPECT_EQ(problem.file, (sources.path() / row.file).string());
        EXPECT_EQ(problem.line, row.line);
        EXPECT_EQ(problem.field, row.field);
        EXPECT_EQ(problem.flaw.kind, row.kind) << describe(problem);
        EXPECT_TRUE(problem.flaw.fix.ends_with(row.suggestion)) << problem.flaw.fix;
    }
    Problems problems;
    readSources(KAVO_SOURCE_DIR "/no such folder", problems);
    ASSERT_EQ(problems.size(), 1u) << problemsText(problems);
    EXPECT_EQ(problems.front().flaw.kind, Kind::SourcesNotAFolder);
}

// "FILE:LINE: FIELD: REASON; FIX", which scripts may split: the parts that are empty are left out.
TEST(PublishSources, AProblemReadsAsFileLineFieldReasonAndFix)
{
    const Flaw flaw{Flaw::Kind::Hyphen, "原因", "办法"};
    const std::pair<Problem, std::string> cases[] = {
        {{"a.tsv", 3, "软件名称", flaw}, "a.tsv:3: 软件名称: 原因; 办法"},
        {{"a.tsv", 0, "", flaw}, "a.tsv: 原因; 办法"},
        {{"--base", 0, "", {Flaw::Kind::BadBase, "原因", ""}}, "--base: 原因"},
        {{"公告.txt", 2, "公告", {Flaw::Kind::ZeroByte, "原因", ""}}, "公告.txt:2: 公告: 原因"},
    };
    for (const auto &[problem, text] : cases)
        EXPECT_EQ(describe(problem), text);
}

TEST(PublishSources, AddressOptionFlaws)
{
    using Kind = Flaw::Kind;
    const struct
    {
        std::string option;
        std::string value;
        Kind kind;
    } cases[] = {
        {"--address", "http://lists.example/common.txt", Kind::NoCategoryPlaceholder},
        {"--address", "http://my-lists.example/{category}", Kind::HyphenInAddress},
        {"--address", "http://lists.example/𝄞/{category}", Kind::NonAsciiInAddress},
        {"--address", "lists.example/{category}", Kind::NotHttp},
        {"--address", "http://lists.example/{category} x", Kind::BlankInAddress},
        {"--address", "http://lists.example/{category}\n", Kind::BlankInAddress},
        // The notice's label in the address would move the notice there.
        {"--address", "http://lists.example/{category}?公告：x", Kind::NonAsciiInAddress},
        {"--base", "http://cdn.example/kavo?v=1", Kind::BadBase},
        {"--base", "http://cdn.example/<kavo>", Kind::BadBase},
        {"--base", "cdn.example/kavo", Kind::NotHttp},
        {"--base", "http://cdn.example/my kavo", Kind::BlankInAddress},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.option + " " + row.value);
        const SourceFolder sources;
        TempDir out;
        PublishOptions options;
        (row.option == "--base" ? options.base : options.addressTemplate) = row.value;
        const auto result = publishCatalog(sources.path(), out.path() / "site", options);
        ASSERT_FALSE(result.has_value());
        ASSERT_EQ(result.error().size(), 1u) << problemsText(result.error());
        EXPECT_EQ(result.error().front().file, row.option);
        EXPECT_EQ(result.error().front().flaw.kind, row.kind) << problemsText(result.error());
        EXPECT_FALSE(std::filesystem::exists(out.path() / "site"));
    }
    const auto wide = listAddress("http://例子.测试/{category}", catalog::category(3));
    ASSERT_FALSE(wide.has_value());
    EXPECT_TRUE(wide.error().fix.ends_with("http://%E4%BE%8B%E5%AD%90.%E6%B5%8B%E8%AF%95/{category}"))
        << wide.error().fix;
    EXPECT_TRUE(listAddress("HTTPS://x/{category}", catalog::category(3)).has_value());
    const auto address = listAddress("http://x/{category}.txt?c={category}", catalog::category(3));
    ASSERT_TRUE(address.has_value());
    EXPECT_EQ(
        address.value(), "http://x/%E6%A8%A1%E5%9D%97%E4%B8%8B%E8%BD%BD.txt?c=%E6%A8%A1%E5%9D%97%E4%B8%8B%E8%BD%BD");
}

TEST(Publish, ListsReadBackAsTheSourceRecords)
{
    // Values at the edges of what reads back: blanks, full-width look-alikes, an earlier field's key, a "#"
    // inside a line, empty fields, a character whose second GBK byte is a backslash.
    const SourceFolder sources;
    sources.write("软件下载.tsv",
        "\xEF\xBB\xBF# header\n 带空格 \t 1 MB \t2024．1．1\thttp://a/?x=1&y=2\n"
        "7－Zip（64 位）\t1MB\t\t软件名称：在前面的键\r\n"
        "C# 工具\t\t\t\n乗表ソ\t：\t#\thttp://b/乗\n");
    sources.write("电脑技术.tsv", "文本\t2KB\t2024\thttp://t/1\n文本\t2KB\t2024\thttp://t/1\n");
    sources.write("公告.txt", "\n第一行\r\n\r\n第三行：广告\n\n");
    sources.write("广告.txt", "广告词 100% 好用\n");
    TempDir out;
    const auto result = publishCatalog(sources.path(), out.path(), Address);
    ASSERT_TRUE(result.has_value()) << problemsText(result.error());
    for (const catalog::Category &category : catalog::categories()) {
        SCOPED_TRACE(common::utf8FromGbk(category.name));
        Problems problems;
        const std::string file = readFile(categorySource(sources.path(), category));
        std::vector<catalog::CatalogItem> expected;
        for (const SourceRecord &record : parseCategorySource(file, category, "", problems))
            expected.push_back(rowOf(record, category));
        ASSERT_TRUE(problems.empty()) << problemsText(problems);
        EXPECT_EQ(catalog::loadCategory(out.path(), category), expected);
    }
    EXPECT_EQ(catalog::loadCategory(out.path(), catalog::category(1)).size(), 4u);
    const ManifestContent read = published(out.path());
    EXPECT_EQ(read.notice, gbk("第一行\r\n\r\n第三行：广告"));
    EXPECT_EQ(read.advertisement, gbk("广告词 100% 好用"));
    EXPECT_EQ(read.entries[0].address, "http://lists.example/share/link?list=%E8%BD%AF%E4%BB%B6%E4%B8%8B%E8%BD%BD");
    EXPECT_EQ(snapshot(out.path()).size(), 7u); // the folder, five lists and the page: no temporary file left
}

TEST(Publish, TheSampleCatalogReadsBackRecordForRecord)
{
    TempDir out;
    const auto result = publishCatalog(KAVO_SOURCE_DIR "/src/resources/catalog", out.path(), Address);
    ASSERT_TRUE(result.has_value()) << problemsText(result.error());
    for (const catalog::Category &category : catalog::categories()) {
        const std::vector<catalog::CatalogItem> rows = catalog::loadCategory(out.path(), category);
        EXPECT_EQ(rows.size(), result->lists[static_cast<std::size_t>(category.number - 1)].records);
        EXPECT_GT(rows.size(), 0u);
    }
}

TEST(Publish, TheVersionCheckOffersTheFirstChangedListInCheckOrder)
{
    const struct
    {
        std::vector<const char *> changed;
        int offered; // 0: none
    } cases[] = {
        {{}, 0},
        {{"软件下载"}, 1},
        {{"源码下载", "常用软件"}, 5},
        {{"软件下载", "模块下载"}, 3},
        {{"源码下载", "软件下载", "电脑技术"}, 4},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.offered);
        const SourceFolder sources;
        for (const catalog::Category &category : catalog::categories())
            sources.write(common::utf8FromGbk(category.name) + ".tsv", "旧条目\t1KB\t2024\thttp://old\n");
        TempDir out;
        ASSERT_TRUE(publishCatalog(sources.path(), out.path(), Address).has_value());
        EXPECT_EQ(offerFrom(out.path()), std::nullopt);
        for (const char *name : row.changed)
            sources.append(std::string(name) + ".tsv", "新条目\t2KB\t2025\thttp://new\n");
        const auto result = publishCatalog(sources.path(), out.path(), Address);
        ASSERT_TRUE(result.has_value()) << problemsText(result.error());
        const std::optional<update::UpdateOffer> offer = offerFrom(out.path());
        if (row.offered == 0) {
            EXPECT_EQ(offer, std::nullopt);
            continue;
        }
        ASSERT_TRUE(offer.has_value());
        EXPECT_EQ(offer->category, row.offered);
        EXPECT_EQ(offer->remoteVersion, "1.1");
        EXPECT_NE(summary(result.value())
                      .find("会收到的更新：" + common::utf8FromGbk(catalog::category(row.offered).name) + " 1.1\n"),
            std::string::npos);
        EXPECT_EQ(offerFrom(out.path(), {{row.offered, "1.1"}}), std::nullopt); // once fetched, nothing more
    }
}

TEST(Publish, FlagsAndVersionsFollowWhatChanged)
{
    const SourceFolder sources;
    TempDir out;
    const auto flagsAndVersions = [&out] {
        std::string text;
        for (const ManifestEntry &entry : published(out.path()).entries)
            text += (entry.flag ? "是" : "否") + entry.version + " ";
        return text;
    };
    const auto publishNow = [&] {
        const auto result = publishCatalog(sources.path(), out.path(), Address);
        EXPECT_TRUE(result.has_value()) << problemsText(result.error());
        return flagsAndVersions();
    };
    // Category order: 软件下载, 源码下载, 模块下载, 电脑技术, 常用软件.
    EXPECT_EQ(publishNow(), "否1.0 否1.0 否1.0 否1.0 否1.0 ");
    sources.append("模块下载.tsv", "M\t1\t2\t3\n");
    EXPECT_EQ(publishNow(), "否1.0 否1.0 是1.1 否1.0 否1.0 ");
    sources.write("公告.txt", "只改公告\n"); // no list changed: the offer stays
    EXPECT_EQ(publishNow(), "否1.0 否1.0 是1.1 否1.0 否1.0 ");
    EXPECT_EQ(published(out.path()).notice, gbk("只改公告"));
    sources.append("软件下载.tsv", "S\t1\t2\t3\n");
    EXPECT_EQ(publishNow(), "是1.1 否1.0 否1.1 否1.0 否1.0 ");
    sources.write("软件下载.tsv", "S\t1\t2\t4\n");
    const auto result = publishCatalog(sources.path(), out.path(), Address);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(flagsAndVersions(), "是1.2 否1.0 否1.1 否1.0 否1.0 ");
    const ListOutcome &list = result->lists[0];
    EXPECT_EQ(std::tie(list.change, list.added, list.removed), std::tuple(Change::Changed, 1u, 1u));
    EXPECT_NE(summary(result.value()).find("软件下载\t1 条记录\t有变化：增加 1 条，删除 1 条\t版本 1.2\t更新标记 是\n"),
        std::string::npos);
}

TEST(NextVersion, CountsUpTheLastNumber)
{
    const std::pair<std::string, std::string> cases[] = {{"1.0", "1.1"}, {"1.9", "1.10"}, {"2.99", "2.100"},
        {"9", "10"}, {"v2 beta", "v3 beta"}, {"", ".1"}, {"正式版", "正式版.1"}, {"2024.12.31", "2024.12.32"}};
    for (const auto &[version, next] : cases)
        EXPECT_EQ(nextVersion(gbk(version)), gbk(next)) << version;
}

TEST(Publish, NothingIsWrittenWhenAnySourceHasAFlaw)
{
    const SourceFolder sources;
    sources.write("软件下载.tsv", "A\t1\t2\t3\n");
    TempDir out;
    ASSERT_TRUE(publishCatalog(sources.path(), out.path(), Address).has_value());
    const auto before = snapshot(out.path());
    sources.write("源码下载.tsv", "B\t1\t2\t3\n");
    sources.write("常用软件.tsv", "C-D\t1\t2\t3\n");
    const auto result = publishCatalog(sources.path(), out.path(), Address);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(snapshot(out.path()), before);
    EXPECT_FALSE(publishCatalog(sources.path(), out.path() / "new", Address).has_value());
    EXPECT_FALSE(std::filesystem::exists(out.path() / "new"));
}

TEST(FileBatch, AFailedRenamePutsBackWhatWasReplaced)
{
    TempDir dir;
    writeFile(dir.path() / "a.txt", "old a");
    writeFile(dir.path() / "busy" / "inside", "x"); // a folder that is not empty cannot be renamed over
    const std::vector<FileChange> changes{{dir.path() / "a.txt", "new a", "old a"},
        {dir.path() / "new" / "b.txt", "new b", std::nullopt}, {dir.path() / "busy", "c", std::nullopt}};
    const auto before = snapshot(dir.path());
    const auto result = replaceFiles(changes);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, PublishError::Kind::NotReplaced) << describe(result.error());
    EXPECT_EQ(result.error().path, dir.path() / "busy");
    EXPECT_FALSE(result.error().completedLater);
    EXPECT_EQ(snapshot(dir.path()), before);
    ASSERT_TRUE(replaceFiles({changes[0], changes[1]}).has_value());
    EXPECT_EQ(readFile(dir.path() / "a.txt"), "new a");
    EXPECT_EQ(readFile(dir.path() / "new" / "b.txt"), "new b");
}

TEST(PublishCommand, PrintsTheSummaryOrEveryProblemWithAFailingStatus)
{
    const SourceFolder sources;
    sources.write("模块下载.tsv", "M\t1\t2\t3\n");
    TempDir out;
    const std::string command = binaryDir() + "/kavo-cli publish '" + sources.path().string() + "' '"
        + out.path().string() + "' --address '" + Address + "'";
    const CommandResult first = runCommand(command + " 2>&1");
    EXPECT_EQ(first.status, 0);
    EXPECT_NE(first.out.find("模块下载\t1 条记录\t首次发布\t版本 1.0\t更新标记 否\n"), std::string::npos) << first.out;
    const std::string broken = "T\t1-2\t3\n";
    sources.write("电脑技术.tsv", broken);
    const CommandResult refused = runCommand(command + " 2>&1");
    EXPECT_EQ(refused.status, 1);
    Problems problems;
    const std::string file = (sources.path() / "电脑技术.tsv").string();
    parseCategorySource(broken, catalog::category(4), file, problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(refused.out, describe(problems.front()) + "\nkavo-cli: 什么也没有发布：共 1 个问题\n");
    EXPECT_EQ(runCommand(command.substr(0, command.find(" --address")) + " 2>/dev/null").status, 2);
}

// A leftover journal that cannot be removed (the tree is on a read-only disk) stops the publish with the
// reason; it never ends the program.
TEST(PublishCommand, AJournalThatCannotBeRemovedIsAReasonNotACrash)
{
    const SourceFolder sources;
    TempDir out;
    const std::string publish = binaryDir() + "/kavo-cli publish '" + sources.path().string() + "' '"
        + out.path().string() + "' --address '" + Address + "'";
    ASSERT_EQ(runCommand(publish + " >/dev/null 2>&1").status, 0);
    writeFile(out.path() / ".kavo-publish", "not a journal\n");
    // A mount namespace of its own gives a read-only view of the tree, which even root cannot write in.
    const std::string readOnly = "unshare -rm sh -c \"mount --bind '" + out.path().string() + "' '"
        + out.path().string() + "' && mount -o remount,bind,ro '" + out.path().string() + "' && ";
    if (runCommand(readOnly + "true\" 2>/dev/null").status != 0)
        GTEST_SKIP() << "no mount namespace here to make a read-only tree in";
    const CommandResult result = runCommand(readOnly + publish + "\" 2>&1");
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_NE(result.out.find(".kavo-publish"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("磁盘是只读的"), std::string::npos) << result.out;
}

// A sources folder the program may not list, or may not even look at, is a problem that says why, never a
// folder that seems empty or "not a folder". Root reads everything all the same; in a user namespace of its own
// without a mapping, root's power over files is gone.
TEST(PublishCommand, ASourcesFolderThatCannotBeReadIsAProblem)
{
    using std::filesystem::perms;
    if (runCommand("unshare -U true >/dev/null 2>&1").status != 0)
        GTEST_SKIP() << "no user namespace here to drop root's power over files in";
    const struct
    {
        const char *name;
        perms folderBits; // of the sources folder
        const char *inner; // the folder given to publish, below the sources folder; "" for that folder itself
    } cases[] = {
        {"cannot be listed", perms::owner_write | perms::owner_exec, ""},
        {"cannot be looked into", perms::owner_read | perms::owner_write, "inner"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        const SourceFolder sources;
        std::filesystem::create_directory(sources.path() / "inner");
        const std::filesystem::path given = sources.path() / row.inner;
        TempDir out;
        std::filesystem::permissions(sources.path(), row.folderBits);
        if (runCommand("unshare -U ls '" + given.string() + "' >/dev/null 2>&1").status == 0) {
            std::filesystem::permissions(sources.path(), perms::owner_all);
            GTEST_SKIP() << "the folder can be read all the same here";
        }
        const CommandResult result = runCommand("unshare -U " + binaryDir() + "/kavo-cli publish '" + given.string()
            + "' '" + out.path().string() + "' --address '" + Address + "' 2>&1");
        std::filesystem::permissions(sources.path(), perms::owner_all);
        EXPECT_EQ(result.status, 1) << result.out;
        EXPECT_NE(result.out.find(given.string() + ": 无法读取：没有权限"), std::string::npos) << result.out;
        EXPECT_FALSE(std::filesystem::exists(out.path() / "manifest.html"));
    }
}

// Two publishes into one folder would both plan against the same earlier publish, and the lists of one would
// go online under the manifest page of the other. The second is refused while the first holds the folder.
TEST(Publish, ASecondPublishIntoTheSameFolderIsRefusedWhileOneRuns)
{
    const SourceFolder sources;
    sources.write("软件下载.tsv", "A\t1\t2\t3\n");
    TempDir parent;
    const std::filesystem::path out = parent.path() / "out";
    ASSERT_TRUE(publishCatalog(sources.path(), out, Address).has_value());
    const auto before = snapshot(out);
    sources.append("软件下载.tsv", "B\t1\t2\t3\n");
    {
        const auto running = OutputLock::acquire(out);
        ASSERT_TRUE(running.has_value()) << describe(running.error());
        const auto second = publishCatalog(sources.path(), out, Address);
        ASSERT_FALSE(second.has_value());
        ASSERT_EQ(second.error().size(), 1u) << problemsText(second.error());
        EXPECT_EQ(second.error().front().failure, PublishError::Kind::Busy);
        EXPECT_EQ(second.error().front().file, out.string());
        EXPECT_EQ(snapshot(out), before);
    }
    ASSERT_TRUE(publishCatalog(sources.path(), out, Address).has_value());
    EXPECT_EQ(published(out).entries[0].version, gbk("1.1"));

    // A new folder made for the lock goes again when the publish writes nothing; a file is no folder.
    const std::filesystem::path fresh = parent.path() / "a" / "b";
    EXPECT_TRUE(OutputLock::acquire(fresh).has_value());
    EXPECT_FALSE(std::filesystem::exists(parent.path() / "a"));
    writeFile(parent.path() / "file", "x");
    const auto onFile = publishCatalog(sources.path(), parent.path() / "file", Address);
    ASSERT_FALSE(onFile.has_value());
    ASSERT_EQ(onFile.error().size(), 1u) << problemsText(onFile.error());
    EXPECT_EQ(onFile.error().front().failure, PublishError::Kind::NotAFolder);
    EXPECT_EQ(onFile.error().front().file, (parent.path() / "file").string());
}

// The versions live only in the manifest page. Were a published list's version lost (the page deleted or edited
// by hand), the next publish would start that list again at 1.0, a version that programs already hold for an
// older list, so they would never be offered the new one.
TEST(Publish, APublishedListWhoseVersionThePageLostIsAProblem)
{
    const SourceFolder sources;
    sources.write("软件下载.tsv", "A\t1\t2\t3\n");
    TempDir out;
    ASSERT_TRUE(publishCatalog(sources.path(), out.path(), Address).has_value());
    sources.append("软件下载.tsv", "B\t1\t2\t3\n");
    ASSERT_TRUE(publishCatalog(sources.path(), out.path(), Address).has_value());
    sources.append("软件下载.tsv", "C\t1\t2\t3\n");
    const std::string page = readFile(out.path() / "manifest.html");
    const std::string list = (out.path() / "自动更新" / "软件下载.txt").string();
    const struct
    {
        const char *name;
        std::string page; // empty: no page
    } cases[] = {
        {"the page deleted", ""},
        {"the version label removed",
            page.substr(0, page.find("<li>软件下载版本："))
                + page.substr(page.find("</li>", page.find("<li>软件下载版本：")) + 5)},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(out.path() / "manifest.html");
        if (!row.page.empty())
            writeFile(out.path() / "manifest.html", row.page);
        const auto before = snapshot(out.path());
        const auto result = publishCatalog(sources.path(), out.path(), Address);
        ASSERT_FALSE(result.has_value());
        ASSERT_EQ(result.error().size(), 1u) << problemsText(result.error());
        EXPECT_EQ(result.error().front().flaw.kind, Flaw::Kind::VersionLost);
        EXPECT_EQ(result.error().front().file, (out.path() / "manifest.html").string());
        EXPECT_NE(result.error().front().flaw.fix.find(list), std::string::npos) << result.error().front().flaw.fix;
        EXPECT_EQ(snapshot(out.path()), before);
    }
    // Without the list, the category starts afresh.
    std::filesystem::remove(list);
    const auto afresh = publishCatalog(sources.path(), out.path(), Address);
    ASSERT_TRUE(afresh.has_value()) << problemsText(afresh.error());
}
