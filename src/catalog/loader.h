#pragma once

#include "common/sha256.h"

#include "catalog/category.h"
#include "common/gbk.h"
#include "common/result.h"
#include "platform/files.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace catalog {

// One row of a category view: name, size, share time, address (with its leading blank), tag. GBK.
struct CatalogItem
{
    std::string name;
    std::string size;
    std::string time;
    std::string address;
    std::string tag;

    bool operator==(const CatalogItem &) const = default;
};

// The body of one member (a piece between two "(" delimiters): its first part when it splits at ")" into
// exactly two parts, else nothing. Pure.
std::optional<std::string_view> recordBody(std::string_view member);

// Calls `visit` with the record bodies of a category list file's bytes, in file order: the text is cut at its
// first zero byte, split at every "(", and each piece that splits at ")" into exactly two parts yields its
// first part. The views point into `fileBytes`; nothing is copied or collected.
// A member "X))" (two ")" right before the next "(" or the end of the text) is a record with body X: split at
// ")" it gives "X" and an empty piece, the trailing empty piece being dropped. That is two parts, although a
// member with two ")" is otherwise skipped; the split decides, as it always has for lists written that way.
// "X))" followed by anything, or "X)))", gives three parts and is skipped.
template <typename Visit> void forEachBody(std::string_view fileBytes, Visit &&visit)
{
    // One look at each member for its parentheses: a body is the text before the member's first ")", when
    // text follows that ")" or a second ")" ends the member.
    constexpr std::size_t npos = std::string_view::npos;
    const std::string_view text = common::untilZero(fileBytes);
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t close = common::findEitherByte(text, '(', ')', start);
        if (close == npos || text[close] == '(') {
            start = close == npos ? npos : close + 1; // no ")" in the member
            continue;
        }
        const std::string_view body = text.substr(start, close - start);
        const std::size_t next = common::findEitherByte(text, '(', ')', close + 1);
        const std::size_t end = next == npos ? text.size() : next;
        if (next == npos || text[next] == '(') {
            if (close + 1 < end)
                visit(body);
            start = next == npos ? npos : next + 1;
            continue;
        }
        // A second ")": the member must end right after it. The byte after a ")" starts a character.
        const std::size_t after = next + 1;
        if (after == text.size() || text[after] == '(') {
            visit(body);
            start = after + 1;
            continue;
        }
        const std::size_t open = common::findByte(text, '(', after);
        start = open == npos ? npos : open + 1;
    }
}

// The record bodies as a list. Pure; thread-safe.
std::vector<std::string_view> recordBodies(std::string_view fileBytes);

// A row as views into the record body; `address` lacks the leading blank that the row's column gets.
struct ItemView
{
    std::string_view name;
    std::string_view size;
    std::string_view time;
    std::string_view address;
};

// The fields a record body gives in `category`; a missing field is empty.
ItemView viewFromBody(std::string_view body, const Category &category);
CatalogItem itemFromBody(std::string_view body, const Category &category);

// Calls `visit` for the record of every body in file order, without copying any text.
template <typename Visit> void forEachItem(std::string_view fileBytes, const Category &category, Visit &&visit)
{
    forEachBody(fileBytes, [&category, &visit](std::string_view body) { visit(viewFromBody(body, category)); });
}

// Why a category list file could not be read to its end: the file and the system's reason.
struct ReadFailure
{
    std::filesystem::path file;
    platform::FileError cause; // cause.describe() words it
};

// Reads a category list file in stretches of whole members: the stretches joined with a "(" between them give
// the file's text up to its first zero byte, and each starts where a member starts. A stretch is read about
// `stretchBytes` at a time (more when a member is longer); the file is read, not mapped: copying it through a
// small buffer beats walking a large mapping page by page. A missing or unreadable file has no stretches, and
// neither has anything but a regular file: a directory, or a pipe or device that could keep a reader waiting
// for ever. One reader per thread.
class StretchReader
{
public:
    static constexpr std::size_t DefaultStretchBytes = 128 * 1024;

    explicit StretchReader(const std::filesystem::path &file, std::size_t stretchBytes = DefaultStretchBytes);
    // The next stretch, read into `buffer`, which grows as needed; nothing once the text has ended.
    std::optional<std::string_view> next(std::vector<char> &buffer);
    // Why the file was not read to its end: it could not be opened or read, or is not a regular file. Nothing
    // while it is read or when it was read whole; nothing for a missing file, which reads as empty.
    const std::optional<ReadFailure> &failure() const { return m_failure; }

private:
    void fail(const platform::FileError &cause);

    std::filesystem::path m_path;
    platform::UniqueFd m_fd;
    std::int64_t m_offset = 0; // where the next read begins
    std::size_t m_stretchBytes;
    std::string m_carried; // the unfinished member after the last stretch
    bool m_ended = false;
    std::optional<ReadFailure> m_failure;
};

// Calls `visit` with every stretch of a category list file; stops early when `visit` returns false. Fails as
// the reader does (see StretchReader::failure), after the stretches that were read.
common::Result<void, ReadFailure> forEachStretch(const std::filesystem::path &file,
    const std::function<bool(std::string_view)> &visit, std::size_t stretchBytes = StretchReader::DefaultStretchBytes);

// The SHA-256 that the first record with the download address `address` (GBK, blanks around it ignored) carries
// in the category lists under `programDirectory`; nothing when no such record carries one. Reads the lists a
// stretch at a time. Thread-safe.
std::optional<common::Sha256Digest> recordChecksum(
    const std::filesystem::path &programDirectory, std::string_view address);

// The rows of a whole file. Pure; thread-safe.
std::vector<CatalogItem> parseCategory(std::string_view fileBytes, const Category &category);

// Reads and parses one category a stretch at a time, handing the rows of each to `take` in file order as they
// are made; stops reading once `take` returns false. Safe on any thread.
void loadCategory(const std::filesystem::path &programDirectory, const Category &category,
    const std::function<bool(std::vector<CatalogItem> rows)> &take);

// All the rows of one category at once.
std::vector<CatalogItem> loadCategory(const std::filesystem::path &programDirectory, const Category &category);

} // namespace catalog
