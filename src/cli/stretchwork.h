#pragma once

#include "catalog/loader.h"
#include "cli/streams.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace cli {

// What one stretch of a category list file gives: text appended to `out`. Runs on any of the workers.
using StretchWork = std::function<void(std::string_view stretch, std::string &out)>;

// Writes what `work` makes of every stretch of a category list file (read `stretchBytes` at a time), in file
// order. `workers` threads take turns at reading the next stretch and work on their stretches side by side; the
// calling thread writes the results in order. At most two stretches per worker are read and not yet written,
// so memory stays small whatever the file's size. A missing file writes nothing. Once a write fails (see
// Streams::writeError) no more stretches are read. Fails when the file could not be read to its end (see
// catalog::StretchReader::failure), after writing what was read.
common::Result<void, catalog::ReadFailure> writeStretches(const std::filesystem::path &file, const StretchWork &work,
    Streams &streams, unsigned workers, std::size_t stretchBytes = catalog::StretchReader::DefaultStretchBytes);

} // namespace cli
