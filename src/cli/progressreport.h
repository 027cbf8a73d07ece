#pragma once

#include "cli/commands.h"
#include "common/result.h"
#include "common/sha256.h"
#include "download/downloaderror.h"

#include <filesystem>
#include <optional>
#include <string>

namespace cli {

// How the command line asks for a download.
struct DownloadOptions
{
    int connections = 10;
    std::optional<common::Sha256Digest> sha256; // the file must have this digest before it takes its name
    std::int64_t maxBytesPerSecond = 0; // across all connections; 0: no limit
};

// Downloads `url` into `target` (a native path, as the command line gave it) with the download task, showing
// progress on stderr (a bar on a terminal, a line every second otherwise) with the speed and the time left,
// and waits for the end. SIGINT and SIGTERM stop the task, which keeps its partial files for a later resume.
// The final path, or why the download failed.
common::Result<std::filesystem::path, download::DownloadError> runDownload(
    const std::string &url, const std::filesystem::path &target, const DownloadOptions &options, Streams &streams);

} // namespace cli
