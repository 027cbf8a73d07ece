#include "catalog/sortorder.h"
#include "common/gbk.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using catalog::SortKey;
using common::gbk;

TEST(SortOrder, SizesReadAsBytesInAnyUnit)
{
    const struct
    {
        const char *text;
        std::optional<std::uint64_t> bytes;
    } cases[] = {
        {"1.5GB", 1610612736},
        {"900KB", 921600},
        {"12.5MB", 13107200},
        {"512", 512},
        {"3B", 3},
        {"1 mb", 1048576},
        {" 2.0 Gb ", 2147483648},
        {"0.5K", 512},
        {".5MB", 524288},
        {"1.5", 1},
        {"1TB", 1099511627776},
        {"7.999999999999KB", 8191},
        {"18446744073709551617", std::nullopt},
        {"", std::nullopt},
        {"MB", std::nullopt},
        {"abc", std::nullopt},
        {"1.5XB", std::nullopt},
        {"1..5MB", std::nullopt},
        {"-1MB", std::nullopt},
        {"1,5MB", std::nullopt},
        {"1.5 MB 大", std::nullopt},
        {"99999999999999999999KB", std::nullopt},
        {"8388608TB", std::nullopt},
        {"8388607.999TB", 9223372035755264180u},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(catalog::sizeInBytes(gbk(row.text)), row.bytes);
    }
}

TEST(SortOrder, ShareTimesReadWithDotsHyphensOrSlashes)
{
    const struct
    {
        const char *text;
        std::optional<std::uint32_t> day;
    } cases[] = {
        {"2024.2.29", 20240229},
        {"2024-2-29", 20240229},
        {"2024/02/29", 20240229},
        {" 2012.1.1 ", 20120101},
        {"2000.2.29", 20000229},
        {"2023.2.29", std::nullopt},
        {"1900.2.29", std::nullopt},
        {"2024.4.31", std::nullopt},
        {"2024.13.1", std::nullopt},
        {"2024.0.1", std::nullopt},
        {"2024.2.0", std::nullopt},
        {"2024.2", std::nullopt},
        {"2024", std::nullopt},
        {"24.2.1", std::nullopt},
        {"2024.2-29", std::nullopt},
        {"2024.2.29.", std::nullopt},
        {"2024.002.1", std::nullopt},
        {"", std::nullopt},
        {"昨天", std::nullopt},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(catalog::shareDay(gbk(row.text)), row.day);
    }
}

namespace {

std::vector<std::uint32_t> order(const std::vector<const char *> &texts, SortKey key, bool reversed)
{
    std::vector<std::string> gbkTexts;
    for (const char *text : texts)
        gbkTexts.push_back(gbk(text));
    return catalog::sortedRows(
        gbkTexts.size(), [&gbkTexts](std::size_t row) -> std::string_view { return gbkTexts[row]; }, key, reversed);
}

} // namespace

TEST(SortOrder, RowsSortByValueAndUnreadableOnesStayLast)
{
    using Order = std::vector<std::uint32_t>;
    const struct
    {
        const char *name;
        std::vector<const char *> texts;
        SortKey key;
        Order first;
        Order second;
    } cases[] = {
        {"sizes in mixed units, smallest first", {"12.5MB", "900KB", "?", "1.5GB", "1MB", "", "1024KB"}, SortKey::Size,
            {1, 4, 6, 0, 3, 2, 5}, {3, 0, 4, 6, 1, 2, 5}},
        {"share times, newest first", {"2012.1.1", "坏", "2024-2-29", "2020.5.5", "2012.1.1", "2024.2.30"},
            SortKey::Time, {2, 3, 0, 4, 1, 5}, {0, 4, 3, 2, 1, 5}},
        {"names by pinyin before Latin, numbers by value", {"中文", "", "阿里", "  ", "波浪", "Alpha 10", "alpha 9"},
            SortKey::Name, {2, 4, 0, 6, 5, 1, 3}, {5, 6, 0, 4, 2, 1, 3}},
        {"nothing readable keeps file order", {"x", "", "y"}, SortKey::Size, {0, 1, 2}, {0, 1, 2}},
        {"no rows", {}, SortKey::Name, {}, {}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(order(row.texts, row.key, false), row.first);
        EXPECT_EQ(order(row.texts, row.key, true), row.second);
    }
}
