#include "update/newrecords.h"

#include "catalog/category.h"
#include "catalog/loader.h"
#include "common/gbk.h"
#include "platform/files.h"
#include "signing/fileformat.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <sodium.h>

namespace update {

namespace {

// The store: this magic, the list's identity (device, inode, size, modification time), the number of keys and
// the keys in ascending order, each a little-endian 64-bit number.
constexpr std::string_view Magic = "KAVONEW1";
constexpr std::size_t HeadBytes = Magic.size() + 5 * 8;
// Far more records than any list holds; a larger store is not one of ours.
constexpr std::uint64_t MaxKeys = 16 * 1024 * 1024;

// The hash key is fixed, so that keys stay the same from one run to the next; they name records, they guard
// nothing.
const std::array<unsigned char, crypto_shorthash_KEYBYTES> &hashKey()
{
    static const std::array<unsigned char, crypto_shorthash_KEYBYTES> key = [] {
        signing::format::initialiseSodium();
        std::array<unsigned char, crypto_shorthash_KEYBYTES> k{};
        std::memcpy(k.data(), "KAVO new record", std::min<std::size_t>(k.size(), 15));
        return k;
    }();
    return key;
}

RecordKey keyOf(std::string_view name, std::string_view size, std::string_view time, std::string_view address)
{
    // Fields end at their first zero byte, so a zero between them keeps "ab"+"c" apart from "a"+"bc".
    thread_local std::string joined;
    joined.clear();
    for (const std::string_view field : {name, size, time, address}) {
        joined += field;
        joined += '\0';
    }
    std::array<unsigned char, crypto_shorthash_BYTES> hash{};
    crypto_shorthash(
        hash.data(), reinterpret_cast<const unsigned char *>(joined.data()), joined.size(), hashKey().data());
    RecordKey key = 0;
    for (std::size_t i = 0; i < hash.size(); ++i)
        key |= static_cast<RecordKey>(hash[i]) << (8 * i);
    return key;
}

void sortDistinct(std::vector<RecordKey> &keys)
{
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
}

void appendNumber(std::string &out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

std::uint64_t numberAt(std::string_view bytes, std::size_t at)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

std::string headOf(const platform::FileIdentity &list, std::uint64_t count)
{
    std::string head(Magic);
    appendNumber(head, list.device);
    appendNumber(head, list.inode);
    appendNumber(head, list.size);
    appendNumber(head, static_cast<std::uint64_t>(list.modifiedNs));
    appendNumber(head, count);
    return head;
}

// The number of keys the store's head announces, when the head is ours and names `list` as it is now.
std::optional<std::uint64_t> announcedCount(std::string_view head, const std::filesystem::path &list)
{
    const std::optional<platform::FileIdentity> identity = platform::fileIdentity(list);
    if (!identity || head.size() < HeadBytes)
        return std::nullopt;
    const std::uint64_t count = numberAt(head, HeadBytes - 8);
    if (count > MaxKeys || head.substr(0, HeadBytes) != headOf(*identity, count))
        return std::nullopt;
    return count;
}

using Visit = std::function<void(const catalog::ItemView &)>;

// Every record of a list file; a missing file has none.
common::Result<void, std::string> forEachRecord(
    const std::filesystem::path &list, const catalog::Category &category, const Visit &visit)
{
    const auto read = catalog::forEachStretch(list, [&](std::string_view stretch) {
        catalog::forEachItem(stretch, category, visit);
        return true;
    });
    if (!read.has_value())
        return common::unexpected("无法读取 " + read.error().file.string() + "：" + read.error().cause.describe());
    return {};
}

} // namespace

RecordKey recordKey(const catalog::ItemView &item)
{
    return keyOf(item.name, item.size, item.time, item.address);
}

RecordKey recordKey(const catalog::CatalogItem &row)
{
    const std::string_view address = row.address;
    return keyOf(row.name, row.size, row.time, address.starts_with(' ') ? address.substr(1) : address);
}

std::vector<RecordKey> newRecordKeys(
    std::string_view oldBytes, std::string_view newBytes, const catalog::Category &category)
{
    std::vector<RecordKey> old;
    catalog::forEachItem(oldBytes, category, [&old](const catalog::ItemView &item) { old.push_back(recordKey(item)); });
    sortDistinct(old);
    std::vector<RecordKey> fresh;
    catalog::forEachItem(newBytes, category, [&](const catalog::ItemView &item) {
        const RecordKey key = recordKey(item);
        if (!std::binary_search(old.begin(), old.end(), key))
            fresh.push_back(key);
    });
    sortDistinct(fresh);
    return fresh;
}

std::filesystem::path newRecordsFile(const std::filesystem::path &list)
{
    std::filesystem::path store = list;
    store += ".newrecords";
    return store;
}

common::Result<void, std::string> rememberNewRecords(
    const std::filesystem::path &oldList, const std::filesystem::path &newList, const catalog::Category &category)
{
    std::vector<RecordKey> old;
    if (auto read
        = forEachRecord(oldList, category, [&old](const catalog::ItemView &item) { old.push_back(recordKey(item)); });
        !read.has_value())
        return read;
    sortDistinct(old);
    std::vector<RecordKey> fresh;
    if (auto read = forEachRecord(newList, category,
            [&](const catalog::ItemView &item) {
                const RecordKey key = recordKey(item);
                if (!std::binary_search(old.begin(), old.end(), key))
                    fresh.push_back(key);
            });
        !read.has_value())
        return read;
    sortDistinct(fresh);
    const std::optional<platform::FileIdentity> identity = platform::fileIdentity(newList);
    if (!identity)
        return common::unexpected("无法查看 " + newList.string() + "："
            + platform::FileError{platform::FileError::Kind::System, errno}.describe());
    std::string store = headOf(*identity, fresh.size());
    store.reserve(store.size() + 8 * fresh.size());
    for (const RecordKey key : fresh)
        appendNumber(store, key);
    if (const auto written = platform::replaceFile(newRecordsFile(oldList), store, {}); !written.has_value())
        return common::unexpected("无法写入 " + newRecordsFile(oldList).string() + "：" + written.error().describe());
    return {};
}

NewRecords::NewRecords(std::vector<RecordKey> sortedKeys)
    : m_keys(std::move(sortedKeys))
{
}

bool NewRecords::contains(RecordKey key) const
{
    return std::binary_search(m_keys.begin(), m_keys.end(), key);
}

NewRecords readNewRecords(const std::filesystem::path &list)
{
    const auto read = platform::readWhole(newRecordsFile(list), {HeadBytes + 8 * MaxKeys});
    if (!read.has_value())
        return {};
    const std::string &store = read.value();
    const std::optional<std::uint64_t> count = announcedCount(store, list);
    if (!count || store.size() != HeadBytes + 8 * *count)
        return {};
    std::vector<RecordKey> keys;
    keys.reserve(*count);
    for (std::size_t at = HeadBytes; at < store.size(); at += 8) {
        const RecordKey key = numberAt(store, at);
        if (!keys.empty() && key <= keys.back())
            return {}; // not written by us
        keys.push_back(key);
    }
    return NewRecords(std::move(keys));
}

std::size_t newRecordCount(const std::filesystem::path &list)
{
    return readNewRecords(list).count();
}

std::string describeNewRecordCounts(const std::vector<std::size_t> &counts)
{
    std::string line;
    for (std::size_t i = 0; i < counts.size() && i < catalog::categories().size(); ++i) {
        if (counts[i] == 0)
            continue;
        line += line.empty() ? common::gbk("新记录：") : common::gbk("，");
        line += catalog::categories()[i].name + " " + std::to_string(counts[i]) + common::gbk(" 条");
    }
    return line;
}

} // namespace update
