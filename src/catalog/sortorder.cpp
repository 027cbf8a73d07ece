#include "catalog/sortorder.h"

#include "common/gbk.h"
#include "common/qtext.h"

#include <QLocale>
#include <algorithm>
#include <array>

namespace catalog {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The digits at the front of `text`, taken off it.
std::string_view takeDigits(std::string_view &text)
{
    std::size_t n = 0;
    while (n < text.size() && isDigit(text[n]))
        ++n;
    const std::string_view digits = text.substr(0, n);
    text.remove_prefix(n);
    return digits;
}

// log2 of the unit's factor, or nothing for a text that is no unit.
std::optional<int> unitShift(std::string_view unit)
{
    if (unit.size() == 2 && lower(unit[1]) != 'b')
        return std::nullopt;
    if (unit.size() > 2 || (unit.size() == 2 && lower(unit[0]) == 'b'))
        return std::nullopt;
    if (unit.empty())
        return 0;
    switch (lower(unit[0])) {
    case 'b':
        return 0;
    case 'k':
        return 10;
    case 'm':
        return 20;
    case 'g':
        return 30;
    case 't':
        return 40;
    default:
        return std::nullopt;
    }
}

// Finer parts of a byte count are dropped; six digits keep the fraction times a terabyte within 64 bits.
constexpr std::size_t MaxFractionDigits = 6;
constexpr std::uint64_t Limit = std::uint64_t{1} << 63;

} // namespace

std::optional<std::uint64_t> sizeInBytes(std::string_view text)
{
    text = common::trimBlanks(text);
    const std::string_view whole = takeDigits(text);
    std::string_view fraction;
    if (!text.empty() && text.front() == '.') {
        text.remove_prefix(1);
        fraction = takeDigits(text);
    }
    if (whole.empty() && fraction.empty())
        return std::nullopt;
    const std::optional<int> shift = unitShift(common::trimBlanks(text));
    if (!shift)
        return std::nullopt;
    std::uint64_t units = 0;
    for (const char c : whole) {
        if (units > (Limit >> *shift) / 10)
            return std::nullopt;
        units = units * 10 + static_cast<std::uint64_t>(c - '0');
        if (units >= Limit >> *shift)
            return std::nullopt;
    }
    std::uint64_t numerator = 0;
    std::uint64_t scale = 1;
    for (const char c : fraction.substr(0, MaxFractionDigits)) {
        numerator = numerator * 10 + static_cast<std::uint64_t>(c - '0');
        scale *= 10;
    }
    const std::uint64_t bytes = (units << *shift) + (numerator << *shift) / scale;
    if (bytes >= Limit)
        return std::nullopt;
    return bytes;
}

std::optional<std::uint32_t> shareDay(std::string_view text)
{
    text = common::trimBlanks(text);
    const std::string_view year = takeDigits(text);
    if (year.size() != 4 || text.empty())
        return std::nullopt;
    const char separator = text.front();
    if (separator != '.' && separator != '-' && separator != '/')
        return std::nullopt;
    text.remove_prefix(1);
    const std::string_view month = takeDigits(text);
    if (text.empty() || text.front() != separator)
        return std::nullopt;
    text.remove_prefix(1);
    const std::string_view day = takeDigits(text);
    const auto number = [](std::string_view digits) {
        std::uint32_t n = 0;
        for (const char c : digits)
            n = n * 10 + static_cast<std::uint32_t>(c - '0');
        return n;
    };
    if (!text.empty() || month.empty() || month.size() > 2 || day.empty() || day.size() > 2)
        return std::nullopt;
    const std::uint32_t y = number(year);
    const std::uint32_t m = number(month);
    const std::uint32_t d = number(day);
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    static constexpr std::array<std::uint32_t, 12> Days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || d > Days[m - 1] + (m == 2 && leap ? 1 : 0))
        return std::nullopt;
    return y * 10000 + m * 100 + d;
}

NameCollation::NameCollation()
    : m_collator(QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China))
{
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

bool NameCollation::before(std::string_view a, std::string_view b) const
{
    return m_collator.compare(common::toQString(a), common::toQString(b)) < 0;
}

QCollatorSortKey NameCollation::sortKey(std::string_view text) const
{
    return m_collator.sortKey(common::toQString(text));
}

namespace {

// The readable rows, stably ordered by `value` (`less` on values, or its reverse), then the unreadable ones.
template <typename Value, typename Less>
std::vector<std::uint32_t> orderBy(
    std::size_t count, const std::function<std::optional<Value>(std::size_t)> &valueOf, bool descending, Less less)
{
    std::vector<std::pair<Value, std::uint32_t>> readable;
    std::vector<std::uint32_t> unreadable;
    for (std::size_t row = 0; row < count; ++row) {
        if (std::optional<Value> value = valueOf(row))
            readable.emplace_back(std::move(*value), static_cast<std::uint32_t>(row));
        else
            unreadable.push_back(static_cast<std::uint32_t>(row));
    }
    // Equal values fall back on the row number, which keeps them in file order without a stable sort's buffer.
    std::sort(readable.begin(), readable.end(), [descending, &less](const auto &a, const auto &b) {
        if (descending ? less(b.first, a.first) : less(a.first, b.first))
            return true;
        if (descending ? less(a.first, b.first) : less(b.first, a.first))
            return false;
        return a.second < b.second;
    });
    std::vector<std::uint32_t> order;
    order.reserve(count);
    for (const auto &entry : readable)
        order.push_back(entry.second);
    order.insert(order.end(), unreadable.begin(), unreadable.end());
    return order;
}

} // namespace

std::vector<std::uint32_t> sortedRows(
    std::size_t count, const std::function<std::string_view(std::size_t row)> &textOf, SortKey key, bool reversed)
{
    switch (key) {
    case SortKey::Size:
        return orderBy<std::uint64_t>(
            count, [&textOf](std::size_t row) { return sizeInBytes(textOf(row)); }, reversed, std::less<>());
    case SortKey::Time:
        return orderBy<std::uint32_t>(
            count, [&textOf](std::size_t row) { return shareDay(textOf(row)); }, !reversed, std::less<>());
    case SortKey::Name:
        break;
    }
    const NameCollation collation;
    return orderBy<QCollatorSortKey>(
        count,
        [&textOf, &collation](std::size_t row) -> std::optional<QCollatorSortKey> {
            const std::string_view text = textOf(row);
            if (common::trimBlanks(text).empty())
                return std::nullopt;
            return collation.sortKey(text);
        },
        reversed, [](const QCollatorSortKey &a, const QCollatorSortKey &b) { return a.compare(b) < 0; });
}

} // namespace catalog
