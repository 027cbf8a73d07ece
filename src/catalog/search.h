#pragma once

#include "catalog/category.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace catalog {

// Whether a search text matches a name: its last occurrence, letter case significant, on a character
// boundary. An empty text matches every non-empty name and no empty one. Pure.
bool nameMatches(std::string_view name, std::string_view text);

// The text searched for, which the user may change while a search runs (the search box). The search reads it
// again for every record; a reader only takes the lock when the text has changed. Thread-safe.
class SearchCriterion
{
public:
    explicit SearchCriterion(std::string gbkText = {});
    void set(std::string gbkText);
    std::string text() const;
    std::uint64_t version() const { return m_version.load(std::memory_order_acquire); }

private:
    mutable std::mutex m_mutex;
    std::string m_text;
    std::atomic<std::uint64_t> m_version{0};
};

// One search result row: the category's search icon, the name and the address column (with its blank).
struct SearchHit
{
    int icon = 0;
    std::string name;
    std::string address;

    bool operator==(const SearchHit &) const = default;
};

// A hit as views into the file: the name and the address without the column's leading blank.
struct HitView
{
    std::string_view name;
    std::string_view address;
};

// Calls `visit` with the hits among one category file's bytes, in file order, copying nothing. Stops early
// once `stop` is set. Thread-safe.
void forEachHit(std::string_view fileBytes, const Category &category, const SearchCriterion &criterion,
    const std::atomic<bool> *stop, const std::function<void(const HitView &)> &visit);

// The hits among one category file's bytes, in file order. Stops early (returning what it has) once `stop`
// is set. Thread-safe.
std::vector<SearchHit> searchCategory(std::string_view fileBytes, const Category &category,
    const SearchCriterion &criterion, const std::atomic<bool> *stop = nullptr);

// The hits of all five category files of a program directory, category after category in order 1 to 5 and in
// file order within each, handed to `take` on the calling thread as they are found, a stretch of a file at a
// time. Stops early once `stop` is set. Thread-safe.
void searchCatalog(const std::filesystem::path &programDirectory, const SearchCriterion &criterion,
    const std::atomic<bool> *stop, const std::function<void(std::vector<SearchHit> hits)> &take);

// All the hits at once.
std::vector<SearchHit> searchCatalog(const std::filesystem::path &programDirectory, const SearchCriterion &criterion,
    const std::atomic<bool> *stop = nullptr);

} // namespace catalog
