#pragma once

#include <QCollator>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

// How the rows of a view or a listing are put in order by one column's text. Texts are GBK.
namespace catalog {

enum class SortKey
{
    Name, // collation order of the text; a text of blanks cannot be read
    Size, // smallest first
    Time // newest first
};

// The bytes a size text stands for: a decimal number, with or without a fraction, and a unit B, K, KB, M, MB, G,
// GB, T or TB in any letter case (1024-based; no unit means bytes). Blanks around the text and before the unit
// are allowed. "1.5GB" is 1610612736, "900KB" 921600. Nothing for any other text, or a value of 2^63 bytes or
// more. Pure; thread-safe.
std::optional<std::uint64_t> sizeInBytes(std::string_view text);

// The day a share time text names, as year * 10000 + month * 100 + day: "2024.2.29", "2024-2-29" or
// "2024/2/29", the same separator twice, blanks around allowed; the year has four digits, the month and day
// one or two, and the day must exist in that month. Nothing for any other text. Pure; thread-safe.
std::optional<std::uint32_t> shareDay(std::string_view text);

// The collation that orders names: Chinese by pinyin, as the user's Chinese locale sorts them (simplified
// Chinese whatever the locale, which gives pinyin), numbers inside names by value. Each object is used by one
// thread at a time.
class NameCollation
{
public:
    NameCollation();
    // Whether `a` comes before `b`.
    bool before(std::string_view a, std::string_view b) const;
    QCollatorSortKey sortKey(std::string_view text) const;

private:
    QCollator m_collator;
};

// The rows 0 .. count - 1 in the order `key` gives their texts (`textOf(row)`): names in collation order, sizes
// smallest first, share times newest first; `reversed` turns that order round. Rows whose text cannot be read come
// after all others, in their own order, however the rest is turned. Rows with equal values keep their order.
// Thread-safe when `textOf` is.
std::vector<std::uint32_t> sortedRows(
    std::size_t count, const std::function<std::string_view(std::size_t row)> &textOf, SortKey key, bool reversed);

} // namespace catalog
