#pragma once

#include "catalog/loader.h"
#include "cli/streams.h"

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// What one stretch of a category list file gives: text appended to `out`. Runs on any of the workers.
using StretchWork = std::function<void(std::string_view stretch, std::string &out)>;

// A category list file and what its stretches give.
struct StretchSource
{
    std::filesystem::path file;
    StretchWork work;
};

struct StretchLimits
{
    unsigned workers = 1;
    // How much of a file is read at a time (more when a member is longer).
    std::size_t stretchBytes = catalog::StretchReader::DefaultStretchBytes;
    // Output made for files after the one being written, held until its turn: at most about this many bytes.
    std::size_t heldBytes = 1024 * 1024;
    // Told on a worker when it comes for work, finds nothing it may read yet and is about to wait (held output, or
    // every file taken by others): a test can act on that event instead of waiting for a while. Null: nothing is
    // told.
    std::function<void()> waiting{};
};

// Writes what each source's work makes of its file's stretches, file after file and in file order within each.
// `workers` threads read and work side by side: one worker at a time reads a given file, so the files are read
// at once when there are several, and the calling thread writes the results in order. Of the file being
// written at most two stretches per worker wait, and the output made for later files stays near `heldBytes`,
// so memory stays small whatever the files' size. A missing file writes nothing. Once a write fails (see
// Streams::writeError) no more stretches are read and nothing is reported. Otherwise: the files that could not
// be read to their end (see catalog::StretchReader::failure), in source order, after writing what was read of
// them.
std::vector<catalog::ReadFailure> writeStretches(
    std::span<const StretchSource> sources, Streams &streams, const StretchLimits &limits);

// The same for one file.
common::Result<void, catalog::ReadFailure> writeStretches(const std::filesystem::path &file, const StretchWork &work,
    Streams &streams, unsigned workers, std::size_t stretchBytes = catalog::StretchReader::DefaultStretchBytes);

} // namespace cli
