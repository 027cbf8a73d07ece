#pragma once

#include <filesystem>

// Replacing a category list file without ever leaving it half written. Thread-safe.
namespace update {

// Where a new list is downloaded: beside the old one, as "<list>.new".
std::filesystem::path pendingListPath(const std::filesystem::path &list);

// Makes `downloaded` durable and renames it over `list` in one step. False (and `list` untouched) on failure.
bool replaceList(const std::filesystem::path &downloaded, const std::filesystem::path &list);

} // namespace update
