#include "cli/orderedrows.h"

#include "catalog/search.h"
#include "cli/records.h"
#include "common/gbk.h"
#include "update/newrecords.h"

#include <algorithm>
#include <memory>

namespace cli {

namespace {

// The most room taken ahead for a list file's text: what its size claims, up to this.
constexpr std::uintmax_t MostReservedBytes = std::uintmax_t{1} << 30;

// A list file's text, and its records as views into it.
struct HeldList
{
    std::string text;
    std::vector<catalog::ItemView> items;
};

common::Result<void, catalog::ReadFailure> holdList(
    const std::filesystem::path &list, const catalog::Category &category, HeldList &held)
{
    // The stretches joined by "(" give back the file's text. Room for all of it at once: a text that doubles as it
    // grows copied a million-record list about twice over and faulted in its pages anew each time.
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(list, error);
    if (!error)
        held.text.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(size, MostReservedBytes)));
    bool first = true;
    const auto read = catalog::forEachStretch(list, [&](std::string_view stretch) {
        if (!std::exchange(first, false))
            held.text += '(';
        held.text += stretch;
        return true;
    });
    catalog::forEachItem(held.text, category, [&held](const catalog::ItemView &item) { held.items.push_back(item); });
    return read;
}

std::string_view sortText(const catalog::ItemView &item, catalog::SortKey key)
{
    switch (key) {
    case catalog::SortKey::Size:
        return item.size;
    case catalog::SortKey::Time:
        return item.time;
    case catalog::SortKey::Name:
        break;
    }
    return item.name;
}

// The rows in the order `key` gives, or as they are without one.
template <typename Row, typename TextOf>
std::vector<std::uint32_t> orderOf(
    const std::vector<Row> &rows, const std::optional<catalog::SortKey> &key, TextOf textOf)
{
    if (key) {
        return catalog::sortedRows(
            rows.size(), [&](std::size_t row) { return sortText(textOf(rows[row]), *key); }, *key, false);
    }
    std::vector<std::uint32_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint32_t>(i);
    return order;
}

constexpr std::size_t OutputBlockBytes = 1 << 20;

} // namespace

std::optional<catalog::SortKey> sortKeyNamed(std::string_view word)
{
    if (word == "name")
        return catalog::SortKey::Name;
    if (word == "size")
        return catalog::SortKey::Size;
    if (word == "time")
        return catalog::SortKey::Time;
    return std::nullopt;
}

common::Result<void, catalog::ReadFailure> writeChosenRows(
    const std::filesystem::path &list, const catalog::Category &category, const RowChoice &choice, Streams &streams)
{
    HeldList held;
    if (auto read = holdList(list, category, held); !read.has_value())
        return read;
    if (choice.onlyNew) {
        const update::NewRecords fresh = update::readNewRecords(list);
        std::erase_if(
            held.items, [&fresh](const catalog::ItemView &item) { return !fresh.contains(update::recordKey(item)); });
    }
    const std::string tag = "\t" + common::utf8FromGbk(category.tag) + "\n";
    std::string out;
    for (const std::uint32_t row :
        orderOf(held.items, choice.sort, [](const catalog::ItemView &item) { return item; })) {
        const catalog::ItemView &item = held.items[row];
        appendUtf8Record(out, {{"", item.name}, {"\t", item.size}, {"\t", item.time}, {"\t ", item.address}}, tag);
        if (out.size() >= OutputBlockBytes)
            streams.write(std::exchange(out, {}));
    }
    streams.write(out);
    return {};
}

bool writeSortedHits(const std::filesystem::path &listsDirectory, std::string_view gbkText, catalog::SortKey key,
    Streams &streams, std::vector<catalog::ReadFailure> &failures)
{
    struct Hit
    {
        const catalog::Category *category;
        catalog::ItemView item;
    };
    std::vector<std::unique_ptr<HeldList>> held;
    std::vector<Hit> hits;
    for (const catalog::Category &category : catalog::categories()) {
        held.push_back(std::make_unique<HeldList>());
        if (auto read = holdList(catalog::categoryFile(listsDirectory, category), category, *held.back());
            !read.has_value())
            failures.push_back(read.error());
        for (const catalog::ItemView &item : held.back()->items) {
            if (catalog::nameMatches(item.name, gbkText))
                hits.push_back({&category, item});
        }
        held.back()->items = {};
    }
    std::string out;
    for (const std::uint32_t row : orderOf(hits, key, [](const Hit &hit) { return hit.item; })) {
        const Hit &hit = hits[row];
        appendUtf8Record(
            out, {{std::to_string(hit.category->searchIcon) + "\t", hit.item.name}, {"\t ", hit.item.address}}, "\n");
        if (out.size() >= OutputBlockBytes)
            streams.write(std::exchange(out, {}));
    }
    streams.write(out);
    return !hits.empty();
}

} // namespace cli
