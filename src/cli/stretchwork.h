#pragma once

#include "cli/records.h"

#include <filesystem>
#include <functional>
#include <string_view>

namespace cli {

// What one stretch of a category list file gives: records written to `out`. Runs on any of the threads.
using StretchWork = std::function<void(std::string_view stretch, RecordWriter &out)>;

// Writes what `work` makes of every stretch of a category list file, in file order. One thread per processor
// reads, works and writes; a few slots go round, each keeping its buffers, so memory stays small and warm
// whatever the file's size.
void writeStretches(const std::filesystem::path &file, const StretchWork &work, Streams &streams);

} // namespace cli
