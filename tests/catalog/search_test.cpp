#include "catalog/loader.h"
#include "catalog/search.h"
#include "common/gbk.h"
#include "support/growth.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <random>

using namespace catalog;
using common::gbk;

TEST(SearchRule, LastOccurrenceCaseSensitiveOnCharacterBoundaries)
{
    const struct
    {
        const char *name;
        std::string itemName, text;
        bool match;
    } cases[] = {
        {"plain", "Firefox", "fox", true},
        {"other letter case", "Firefox", "FIRE", false},
        {"empty text, named item", "A", "", true},
        {"empty text, nameless item", "", "", false},
        {"chinese", gbk("压缩工具"), gbk("工具"), true},
        {"second byte only", "\x81\x43", "C", false},
        {"second byte first, then on a boundary", "\x81\x43\x43", "C", true},
        {"hint is searched literally", gbk("请输入要查找的名称"), gbk("请输入要查找的名称"), true},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(nameMatches(row.itemName, row.text), row.match);
    }
}

TEST(Search, HitsKeepFileAndCategoryOrderWithTheirIcons)
{
    TempDir home;
    writeFile(home.path() / "自动更新" / "常用软件.txt", gbk("(软件名称：Zip5-下载地址：http://e-)\n"));
    writeFile(home.path() / "自动更新" / "模块下载.txt",
        gbk("(模块名称：Zip3a-下载地址：http://c1-)\n(模块名称：None-)\n(模块名称：Zip3b-)\n"));
    writeFile(home.path() / "自动更新" / "电脑技术.txt", gbk("(文本名称：Zip4-下载地址：http://d-)\n"));
    const auto hits = searchCatalog(home.path(), SearchCriterion("Zip"));
    const std::vector<SearchHit> expected{
        {1, "Zip3a", " http://c1"}, {1, "Zip3b", " "}, {3, "Zip4", " http://d"}, {0, "Zip5", " http://e"}};
    EXPECT_EQ(hits, expected);
    EXPECT_EQ(searchCatalog(home.path(), SearchCriterion("")).size(), 5u);
    EXPECT_TRUE(searchCatalog(home.path(), SearchCriterion("zip")).empty());
}

TEST(Search, StopsWhenAsked)
{
    std::string file;
    for (int i = 0; i < 1000; ++i)
        file += gbk("(软件名称：A-)\n");
    std::atomic<bool> stop{true};
    EXPECT_TRUE(searchCategory(file, category(1), SearchCriterion(""), &stop).empty());
    stop = false;
    EXPECT_EQ(searchCategory(file, category(1), SearchCriterion(""), &stop).size(), 1000u);
}

TEST(Search, CriterionChangesReachTheNextRecords)
{
    SearchCriterion criterion("a");
    const auto before = criterion.version();
    criterion.set("b");
    EXPECT_NE(criterion.version(), before);
    EXPECT_EQ(criterion.text(), "b");
}

TEST(Search, JumpingToOccurrencesFindsWhatEveryRecordWouldGive)
{
    // Reference: every record of the loader examined in turn.
    const auto reference = [](std::string_view file, const Category &category, const std::string &text) {
        std::vector<SearchHit> hits;
        for (const std::string_view body : recordBodies(file)) {
            const CatalogItem item = itemFromBody(body, category);
            if (nameMatches(item.name, text))
                hits.push_back({category.searchIcon, item.name, item.address});
        }
        return hits;
    };
    // Pieces that make records, broken records, and delimiters hidden in double-byte characters.
    const std::vector<std::string> pieces{gbk("(软件名称：ab"), "-", ")", "\n", "(", "ab", "b", "\x81(", "\x81)",
        gbk("下载地址：x"), gbk("软件"), "\x81", "a"};
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        std::string file;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
            file += pieces[random() % pieces.size()];
        for (const std::string &text : std::vector<std::string>{"ab", "b", "a", "", "\x81", gbk("软")}) {
            SCOPED_TRACE(testing::Message() << "round " << round << " text " << text);
            ASSERT_EQ(searchCategory(file, category(1), SearchCriterion(text)), reference(file, category(1), text));
        }
    }
}

TEST(Search, CostGrowsInProportionToTheFile)
{
    // One record of keys shifted off the character boundaries, holding the searched text many times.
    const std::string key = category(1).nameKey;
    const auto shifted = [&key](std::size_t copies) { return "(\x81" + repeated(key, copies) + "-)\n"; };
    for (const std::string &text : {gbk("名称"), std::string("a"), std::string()}) {
        SCOPED_TRACE(text);
        const auto search
            = [&text](const std::string &file) { searchCategory(file, category(1), SearchCriterion(text)); };
        EXPECT_TRUE(growsInProportion(shifted, search, 1 << 10));
    }
}

TEST(Search, CatalogHitsArriveStretchByStretchInCategoryOrder)
{
    TempDir home;
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += gbk("(软件名称：Zip") + std::to_string(i) + "-)\n";
    writeFile(home.path() / "自动更新" / "软件下载.txt", many);
    writeFile(home.path() / "自动更新" / "常用软件.txt", gbk("(软件名称：Zip last-)\n"));
    std::vector<std::size_t> handed;
    std::vector<SearchHit> hits;
    searchCatalog(home.path(), SearchCriterion("Zip"), nullptr, [&](std::vector<SearchHit> part) {
        handed.push_back(part.size());
        hits.insert(hits.end(), part.begin(), part.end());
    });
    EXPECT_GT(handed.size(), 2u); // the large file in several parts, before the last file is read
    ASSERT_EQ(hits.size(), 5001u);
    EXPECT_EQ(hits.front().name, "Zip0");
    EXPECT_EQ(hits[4999].name, "Zip4999");
    EXPECT_EQ(hits.back().name, "Zip last");
    EXPECT_EQ(hits, searchCatalog(home.path(), SearchCriterion("Zip")));
}
