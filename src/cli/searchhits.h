#pragma once

#include "catalog/loader.h"
#include "cli/stretchwork.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace cli {

// Writes the hits of a search of the five category files of `listsDirectory` as `search` does in file order: one
// line per hit (icon, name, address column), category after category. The files are read and searched side by
// side as `limits` allows (see writeStretches); the output is the same whatever the limits. Returns whether there
// was any hit, or nothing once a write failed; the files that could not be read to their end are added to
// `failures`, after the hits they gave.
std::optional<bool> writeHitsInFileOrder(const std::filesystem::path &listsDirectory, std::string_view gbkText,
    Streams &streams, const StretchLimits &limits, std::vector<catalog::ReadFailure> &failures);

} // namespace cli
