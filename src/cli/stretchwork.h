#pragma once

#include "catalog/category.h"
#include "cli/records.h"

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace cli {

// What one stretch of a category file gives: records written to `out`. Runs on a worker thread.
using StretchWork = std::function<void(const catalog::Category &, std::string_view stretch, RecordWriter &out)>;

// Writes what `work` makes of every stretch of the categories' list files in the program directory `home`, in
// file order. The files are read on the calling thread while worker threads, one per processor, work on the
// stretches side by side; a few jobs go round, each keeping its buffers, so memory stays small and warm
// whatever the files' sizes. Returns whether anything was written.
bool writeStretches(const std::filesystem::path &home, const std::vector<const catalog::Category *> &categories,
    const StretchWork &work, Streams &streams);

} // namespace cli
