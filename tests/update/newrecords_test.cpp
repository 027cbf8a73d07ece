#include "catalog/category.h"
#include "catalog/loader.h"
#include "common/gbk.h"
#include "support/tempdir.h"
#include "update/newrecords.h"

#include <gtest/gtest.h>

using namespace update;
using common::gbk;

namespace {

const catalog::Category &software()
{
    return catalog::category(1);
}

std::string record(const char *name, const char *size = "1MB")
{
    return gbk("(软件名称：") + gbk(name) + gbk("-软件大小：") + size + gbk("-分享时间：2024.2.29-下载地址：http://h/")
        + gbk(name) + "-)\r\n";
}

RecordKey keyOf(const std::string &recordText)
{
    return recordKey(catalog::parseCategory(recordText, software()).at(0));
}

} // namespace

TEST(NewRecords, AreTheRecordsTheOldListDidNotHold)
{
    const std::string a = record("A");
    const std::string b = record("B");
    const struct
    {
        const char *name;
        std::string oldList;
        std::string newList;
        std::vector<std::string> fresh;
    } cases[] = {
        {"no old list: everything", "", a + b, {a, b}},
        {"the same list: nothing", a + b, a + b, {}},
        {"another order: nothing", b + a, a + b, {}},
        {"one added", a, a + b, {b}},
        {"one dropped: nothing", a + b, a, {}},
        {"a changed size is another record", a, record("A", "2MB"), {record("A", "2MB")}},
        {"a duplicate counts once", a, a + b + b, {b}},
        {"a list that is not one", a, "<html>404</html>", {}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        std::vector<RecordKey> expected;
        for (const std::string &r : row.fresh)
            expected.push_back(keyOf(r));
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(newRecordKeys(row.oldList, row.newList, software()), expected);
    }
}

TEST(NewRecords, RowAndRecordGiveTheSameKey)
{
    const std::string text = record("名字");
    catalog::ItemView view;
    catalog::forEachItem(text, software(), [&view](const catalog::ItemView &item) { view = item; });
    EXPECT_EQ(recordKey(view), keyOf(text));
    EXPECT_NE(keyOf(record("AB")), keyOf(record("A")));
}

TEST(NewRecords, LastUntilTheListChanges)
{
    TempDir dir;
    const std::filesystem::path list = dir.path() / "软件下载.txt";
    const std::filesystem::path download = dir.path() / "软件下载.txt.new";
    writeFile(list, record("A"));
    writeFile(download, record("A") + record("B") + record("C"));
    ASSERT_TRUE(rememberNewRecords(list, download, software()).has_value());
    // Before the new list takes its place, the old list has nothing new.
    EXPECT_EQ(newRecordCount(list), 0u);
    std::filesystem::rename(download, list);

    const NewRecords fresh = readNewRecords(list);
    EXPECT_EQ(fresh.count(), 2u);
    EXPECT_EQ(newRecordCount(list), 2u);
    EXPECT_FALSE(fresh.contains(keyOf(record("A"))));
    EXPECT_TRUE(fresh.contains(keyOf(record("B"))));
    EXPECT_TRUE(fresh.contains(keyOf(record("C"))));

    writeFile(list, record("A") + record("B"));
    EXPECT_TRUE(readNewRecords(list).empty());
    EXPECT_EQ(newRecordCount(list), 0u);
}

TEST(NewRecords, AnUnreadableOldListLeavesTheEarlierStore)
{
    TempDir dir;
    const std::filesystem::path list = dir.path() / "软件下载.txt";
    const std::filesystem::path download = dir.path() / "new";
    std::filesystem::create_directory(list); // no list can be read there
    writeFile(download, record("A"));
    const auto remembered = rememberNewRecords(list, download, software());
    ASSERT_FALSE(remembered.has_value());
    EXPECT_NE(remembered.error().find("软件下载.txt"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(newRecordsFile(list)));
}

TEST(NewRecords, AStoreThatIsNotOursMarksNothing)
{
    TempDir dir;
    const std::filesystem::path list = dir.path() / "软件下载.txt";
    const std::filesystem::path download = dir.path() / "new";
    writeFile(list, "");
    writeFile(download, record("A") + record("B"));
    ASSERT_TRUE(rememberNewRecords(list, download, software()).has_value());
    std::filesystem::rename(download, list);
    const std::string good = readFile(newRecordsFile(list));
    ASSERT_EQ(readNewRecords(list).count(), 2u);

    std::string unsorted = good;
    std::swap_ranges(unsorted.end() - 16, unsorted.end() - 8, unsorted.end() - 8);
    std::string countTooLarge = good;
    countTooLarge[good.size() - 17] = '\x7f';
    const struct
    {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"cut short", good.substr(0, good.size() - 3)},
        {"one key more", good + std::string(8, 'x')},
        {"keys out of order", unsorted},
        {"a count past any list", countTooLarge},
        {"another magic", "KAVONEW2" + good.substr(8)},
        {"text", std::string(1000, 'a')},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        writeFile(newRecordsFile(list), row.bytes);
        EXPECT_TRUE(readNewRecords(list).empty());
        EXPECT_EQ(newRecordCount(list), 0u);
    }
}

TEST(NewRecords, CountsLineNamesOnlyCategoriesWithNewRecords)
{
    EXPECT_EQ(describeNewRecordCounts({0, 0, 0, 0, 0}), "");
    EXPECT_EQ(describeNewRecordCounts({12, 0, 0, 0, 3}), gbk("新记录：软件下载 12 条，常用软件 3 条"));
}
