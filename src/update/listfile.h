#pragma once

#include "common/result.h"

#include <filesystem>
#include <string>

namespace catalog {
struct Category;
}

// Replacing a category list file without ever leaving it half written. Thread-safe.
namespace update {

// Why a downloaded list may not take the old list's place; the old list then stands.
struct ListError
{
    enum class Kind
    {
        NotAList, // unreadable, or not the shape of the category's list (an error page, another file)
        NotReplaced // it could not be made durable or renamed over the old list
    };
    Kind kind = Kind::NotAList;
    std::string detail; // GBK, the whole sentence for messages; never parsed
};

// Where a new list is downloaded: beside the old one, as "<list>.new".
std::filesystem::path pendingListPath(const std::filesystem::path &list);

// Makes ready the place of a new list's download: the list's folder, without a pending file an earlier refresh
// left there. The pending file's path, or why the folder cannot be made (GBK, a whole sentence).
common::Result<std::filesystem::path, std::string> clearPendingList(const std::filesystem::path &list);

// Whether a downloaded file can stand as the category's list: it holds a record that names an item (by the
// category's name key or the address key), or nothing but blanks (an empty list). A server's error page, or
// another file sent in the list's place, holds neither. Reads the file a stretch at a time; NotAList also when it
// cannot be read.
common::Result<void, ListError> isCategoryList(const std::filesystem::path &file, const catalog::Category &category);

// Makes `downloaded` durable and renames it over `list` in one step. NotReplaced (and `list` untouched) on failure.
common::Result<void, ListError> replaceList(const std::filesystem::path &downloaded, const std::filesystem::path &list);

} // namespace update
