#include "catalog/loader.h"

#include "common/bytescan.h"
#include "common/gbk.h"
#include "common/markers.h"
#include "platform/files.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>

namespace catalog {

std::optional<std::string_view> recordBody(std::string_view member)
{
    // A member holds no "(" delimiter, so the scan of a whole text finds its body, if it has one, and no other.
    std::optional<std::string_view> body;
    forEachBody(member, [&body](std::string_view found) { body = found; });
    return body;
}

std::vector<std::string_view> recordBodies(std::string_view fileBytes)
{
    std::vector<std::string_view> bodies;
    forEachBody(fileBytes, [&bodies](std::string_view body) { bodies.push_back(body); });
    return bodies;
}

namespace {

// The text after a key up to the next "-", as marker extraction gives it; empty without a "-".
std::string_view valueFrom(std::string_view body, std::size_t from)
{
    const std::string_view rest = body.substr(from);
    const std::size_t dash = common::findByte(rest, '-');
    return dash == std::string_view::npos ? std::string_view() : rest.substr(0, dash);
}

// A category's four keys found in one pass over a record. Every key ends in "：", so the record is searched
// for that character's first byte and each key still missing is tried where one turns up: for any one key
// the places come in order, so the first that matches is its first occurrence. Keys of other shapes (none
// today) fall back to a search per key.
class FieldFinder
{
public:
    explicit FieldFinder(const Category &category)
        : m_keys{category.nameKey, category.sizeKey, timeKey(), addressKey()}
    {
        const auto plain = [](std::string_view key) {
            return key.size() >= 3 && std::none_of(key.begin(), key.end(), [](char c) {
                return c == '#' || std::isalpha(static_cast<unsigned char>(c));
            });
        };
        m_mark = m_keys[0].size() >= 2 ? m_keys[0][m_keys[0].size() - 2] : '\0';
        m_oneMark = std::all_of(m_keys.begin(), m_keys.end(),
            [&](const std::string &key) { return plain(key) && key[key.size() - 2] == m_mark; });
        // Keys of one length, each different and holding the mark only in its colon: then no key matches
        // where another one stands, which viewInOrder relies on.
        const std::size_t length = m_keys[0].size();
        m_inOrder = m_oneMark && std::all_of(m_keys.begin(), m_keys.end(), [&](const std::string &key) {
            return key.size() == length && std::count(key.begin(), key.end(), m_mark) == 1
                && std::count(m_keys.begin(), m_keys.end(), key) == 1;
        });
    }

    ItemView view(std::string_view body) const
    {
        if (m_inOrder) {
            if (const std::optional<ItemView> fields = viewInOrder(body))
                return *fields;
        }
        std::array<std::string_view, 4> fields;
        if (!m_oneMark) {
            for (std::size_t i = 0; i < fields.size(); ++i)
                fields[i] = common::extractView(body, m_keys[i], "-");
            return {fields[0], fields[1], fields[2], fields[3]};
        }
        // One cursor per key: each key's candidate places rise, whatever the other keys' lengths.
        std::array<common::BoundaryCursor, 4> boundaries{common::BoundaryCursor(body), common::BoundaryCursor(body),
            common::BoundaryCursor(body), common::BoundaryCursor(body)};
        unsigned missing = (1u << fields.size()) - 1; // bit i: key i not found yet
        for (std::size_t at = body.find(m_mark); at != std::string_view::npos && missing != 0;
             at = body.find(m_mark, at + 1)) {
            if (at == 0)
                continue; // every key has a character before its colon
            // The byte before the colon tells the keys apart: most tries end there.
            const char telling = body[at - 1];
            for (unsigned left = missing; left != 0; left &= left - 1) {
                const auto i = static_cast<std::size_t>(std::countr_zero(left));
                const std::string &key = m_keys[i];
                const std::size_t lead = key.size() - 2;
                if (telling != key[lead - 1] || at < lead || !keyAt(body, at - lead, key)
                    || !boundaries[i].isBoundary(at - lead))
                    continue;
                missing &= ~(1u << i);
                fields[i] = valueFrom(body, at - lead + key.size());
            }
        }
        return {fields[0], fields[1], fields[2], fields[3]};
    }

private:
    // The fields of a record written the usual way: the keys in order, the first at the start and each other
    // right after the "-" that ends the value before it, and no byte of the mark in those values. The marks
    // before the last key's are then the keys' own, where no other key matches, so the search in view() would
    // find each key where it stands and give the same fields. Nothing for any other record.
    std::optional<ItemView> viewInOrder(std::string_view body) const
    {
        std::array<std::string_view, 4> fields;
        std::size_t at = 0;
        for (std::size_t i = 0; i + 1 < fields.size(); ++i) {
            if (!keyAt(body, at, m_keys[i]))
                return std::nullopt;
            const std::size_t value = at + m_keys[i].size();
            const std::size_t end = common::bytescan::findEither(body, '-', m_mark, value);
            if (end == std::string_view::npos || body[end] != '-' || !common::isCharBoundary(body, end, value))
                return std::nullopt;
            fields[i] = body.substr(value, end - value);
            at = end + 1; // after a one-byte character
        }
        if (!keyAt(body, at, m_keys.back()))
            return std::nullopt;
        fields.back() = valueFrom(body, at + m_keys.back().size());
        return ItemView{fields[0], fields[1], fields[2], fields[3]};
    }

    // Whether `key` starts at `start`.
    static bool keyAt(std::string_view body, std::size_t start, std::string_view key)
    {
        return body.size() - start >= key.size() && body.compare(start, key.size(), key) == 0;
    }

    std::array<std::string, 4> m_keys;
    char m_mark = '\0'; // the first byte of the character every key ends in
    bool m_oneMark = false;
    bool m_inOrder = false; // viewInOrder gives the fields of the records it takes
};

} // namespace

ItemView viewFromBody(std::string_view body, const Category &category)
{
    static const std::array<FieldFinder, CategoryCount> finders{FieldFinder(catalog::category(1)),
        FieldFinder(catalog::category(2)), FieldFinder(catalog::category(3)), FieldFinder(catalog::category(4)),
        FieldFinder(catalog::category(5))};
    if (category.number < 1 || category.number > CategoryCount)
        return FieldFinder(category).view(body);
    return finders[static_cast<std::size_t>(category.number - 1)].view(body);
}

CatalogItem itemFromBody(std::string_view body, const Category &category)
{
    const ItemView view = viewFromBody(body, category);
    CatalogItem item{std::string(view.name), std::string(view.size), std::string(view.time), " ", category.tag};
    item.address += view.address;
    return item;
}

namespace {

// Offset of the last "(" of `text` that starts a character; npos when none.
std::size_t lastMemberDelimiter(std::string_view text)
{
    for (std::size_t at = text.rfind('('); at != std::string_view::npos; at = text.rfind('(', at - 1)) {
        if (common::isCharBoundary(text, at))
            return at;
        if (at == 0)
            break;
    }
    return std::string_view::npos;
}

} // namespace

StretchReader::StretchReader(const std::filesystem::path &path, std::size_t stretchBytes)
    : m_path(path)
    , m_stretchBytes(std::max<std::size_t>(stretchBytes, 1))
{
    auto opened = platform::openForReading(path);
    if (opened.has_value())
        m_fd = std::move(opened.value());
    else if (opened.error().kind != platform::FileError::Kind::Missing)
        fail(opened.error());
}

void StretchReader::fail(const platform::FileError &cause)
{
    m_failure = ReadFailure{m_path, cause};
    m_ended = true;
}

std::optional<std::string_view> StretchReader::next(std::vector<char> &buffer)
{
    if (m_ended || !m_fd.valid())
        return std::nullopt;
    buffer.resize(std::max({buffer.size(), m_stretchBytes, 2 * m_carried.size()}));
    std::memcpy(buffer.data(), m_carried.data(), m_carried.size());
    std::size_t filled = m_carried.size(); // the unfinished member, which starts just after a "("
    for (;;) {
        if (filled == buffer.size())
            buffer.resize(buffer.size() * 2); // a member longer than the buffer
        const auto read = platform::readAt(m_fd.get(), buffer.data() + filled, buffer.size() - filled, m_offset);
        if (!read.has_value())
            fail(read.error());
        const std::size_t got = read.has_value() ? read.value() : 0;
        m_offset += static_cast<std::int64_t>(got);
        const void *zero = std::memchr(buffer.data() + filled, 0, got);
        const std::size_t size
            = zero ? static_cast<std::size_t>(static_cast<const char *>(zero) - buffer.data()) : filled + got;
        const std::string_view text(buffer.data(), size);
        if (got == 0 || zero) {
            m_ended = true;
            return text.empty() ? std::nullopt : std::optional(text);
        }
        // A member can only be told whole once the "(" after it has arrived. Character boundaries count from
        // the buffer's start, where a member starts.
        const std::size_t end = lastMemberDelimiter(text);
        if (end == std::string_view::npos) {
            filled = size;
            continue;
        }
        m_carried.assign(text.substr(end + 1));
        return text.substr(0, end);
    }
}

common::Result<void, ReadFailure> forEachStretch(
    const std::filesystem::path &path, const std::function<bool(std::string_view)> &visit, std::size_t stretchBytes)
{
    StretchReader reader(path, stretchBytes);
    std::vector<char> buffer;
    while (const std::optional<std::string_view> stretch = reader.next(buffer)) {
        if (!visit(*stretch))
            return {};
    }
    if (reader.failure())
        return common::unexpected(*reader.failure());
    return {};
}

std::vector<CatalogItem> parseCategory(std::string_view fileBytes, const Category &category)
{
    std::vector<CatalogItem> items;
    forEachBody(
        fileBytes, [&items, &category](std::string_view body) { items.push_back(itemFromBody(body, category)); });
    return items;
}

void loadCategory(const std::filesystem::path &programDirectory, const Category &category,
    const std::function<bool(std::vector<CatalogItem> rows)> &take)
{
    // A file that cannot be read loads as far as it was read, without a message.
    static_cast<void>(forEachStretch(categoryFile(programDirectory, category),
        [&take, &category](std::string_view stretch) { return take(parseCategory(stretch, category)); }));
}

std::vector<CatalogItem> loadCategory(const std::filesystem::path &programDirectory, const Category &category)
{
    std::vector<CatalogItem> items;
    loadCategory(programDirectory, category, [&items](std::vector<CatalogItem> rows) {
        items.insert(items.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
        return true;
    });
    return items;
}

std::optional<common::Sha256Digest> recordChecksum(
    const std::filesystem::path &programDirectory, std::string_view address)
{
    while (!address.empty() && address.front() == ' ')
        address.remove_prefix(1);
    while (!address.empty() && address.back() == ' ')
        address.remove_suffix(1);
    if (address.empty())
        return std::nullopt;
    const std::string needle = addressKey() + std::string(address) + "-";
    std::optional<common::Sha256Digest> found;
    for (const Category &category : categories()) {
        (void)forEachStretch(categoryFile(programDirectory, category), [&](std::string_view stretch) {
            for (std::size_t at = stretch.find(needle); at != std::string_view::npos && !found;
                 at = stretch.find(needle, at + 1)) {
                const std::size_t open = stretch.rfind('(', at);
                const std::size_t close = stretch.find(')', at);
                const std::string_view body = stretch.substr(open == std::string_view::npos ? 0 : open + 1,
                    close == std::string_view::npos ? std::string_view::npos
                                                    : close - (open == std::string_view::npos ? 0 : open + 1));
                found = common::sha256FromHex(common::extractView(body, checksumKey(), "-", 0, true));
            }
            return !found;
        });
        if (found)
            break;
    }
    return found;
}

} // namespace catalog
