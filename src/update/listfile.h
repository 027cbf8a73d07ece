#pragma once

#include <filesystem>

namespace catalog {
struct Category;
}

// Replacing a category list file without ever leaving it half written. Thread-safe.
namespace update {

// Where a new list is downloaded: beside the old one, as "<list>.new".
std::filesystem::path pendingListPath(const std::filesystem::path &list);

// Whether a downloaded file can stand as the category's list: it holds a record that names an item (by the
// category's name key or the address key), or nothing but blanks (an empty list). A server's error page, or
// another file sent in the list's place, holds neither. Reads the file a stretch at a time; false when it
// cannot be read.
bool isCategoryList(const std::filesystem::path &file, const catalog::Category &category);

// Makes `downloaded` durable and renames it over `list` in one step. False (and `list` untouched) on failure.
bool replaceList(const std::filesystem::path &downloaded, const std::filesystem::path &list);

} // namespace update
