#pragma once

#include "catalog/loader.h"
#include "catalog/sortorder.h"
#include "cli/streams.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// `list` and `search` with a chosen order or only the new records: these need every row at hand before the first
// goes out, so the listed files are held in memory while they are written.
namespace cli {

struct RowChoice
{
    std::optional<catalog::SortKey> sort; // none: file order
    bool onlyNew = false; // only the records the last refresh of the list brought
};

// The sort key a `--sort` word names: name, size or time.
std::optional<catalog::SortKey> sortKeyNamed(std::string_view word);

// Writes the rows of one category list file as `list` does, in the chosen order. Fails when the file could not be
// read to its end; nothing is written then.
common::Result<void, catalog::ReadFailure> writeChosenRows(
    const std::filesystem::path &list, const catalog::Category &category, const RowChoice &choice, Streams &streams);

// Writes the hits of a search of the five category files of `listsDirectory` as `search` does, all of them in the
// order of `key`. Returns whether there was any hit; the files that could not be read to their end are added to
// `failures`, with the hits they gave before that.
bool writeSortedHits(const std::filesystem::path &listsDirectory, std::string_view gbkText, catalog::SortKey key,
    Streams &streams, std::vector<catalog::ReadFailure> &failures);

} // namespace cli
