#pragma once

#include "common/result.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace catalog {
struct Category;
struct CatalogItem;
struct ItemView;
} // namespace catalog

// Which records a refresh brought into a category list. They are kept beside the list until the next refresh
// replaces them, and only while the list is still the one they were taken from. Thread-safe.
namespace update {

// A record's identity across two versions of a list: a hash of its name, size, share time and address. Records
// that differ in none of these are the same record.
using RecordKey = std::uint64_t;
RecordKey recordKey(const catalog::ItemView &item);
// A row's key; its address column begins with the blank that the loaders put there.
RecordKey recordKey(const catalog::CatalogItem &row);

// The distinct keys of the records in `newBytes` that `oldBytes` does not hold, in ascending order. Pure.
std::vector<RecordKey> newRecordKeys(
    std::string_view oldBytes, std::string_view newBytes, const catalog::Category &category);

// Where the new records of the list file `list` are kept: "<list>.newrecords".
std::filesystem::path newRecordsFile(const std::filesystem::path &list);

// Remembers the records of `newList` that `oldList` does not hold (a missing old list holds none), for the moment
// `newList` is renamed over `oldList`: the store names `newList` by its identity, which the rename keeps. Replaces
// the earlier store in one step. Reads both files a stretch at a time. The reason (UTF-8) on failure; the
// earlier store then stays, and as it names another list, nothing counts as new.
common::Result<void, std::string> rememberNewRecords(
    const std::filesystem::path &oldList, const std::filesystem::path &newList, const catalog::Category &category);

// The new records of one list.
class NewRecords
{
public:
    NewRecords() = default;
    explicit NewRecords(std::vector<RecordKey> sortedKeys);
    bool contains(RecordKey key) const;
    std::size_t count() const { return m_keys.size(); }
    bool empty() const { return m_keys.empty(); }

private:
    std::vector<RecordKey> m_keys; // ascending, distinct
};

// The new records of the list file `list`, as its last refresh left them. None when there is no store, when the
// store is damaged or larger than any list could need, or when `list` is no longer the file the store was made
// for. Never fails.
NewRecords readNewRecords(const std::filesystem::path &list);

// How many records readNewRecords() gives.
std::size_t newRecordCount(const std::filesystem::path &list);

// The line that tells the user how many new records each category has, "新记录：软件下载 12 条，常用软件 3 条"
// (GBK); empty when no category has any. `counts[i]` belongs to category i + 1.
std::string describeNewRecordCounts(const std::vector<std::size_t> &counts);

} // namespace update
