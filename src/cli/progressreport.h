#pragma once

#include "cli/commands.h"
#include "common/result.h"
#include "download/downloaderror.h"

#include <filesystem>
#include <string>

namespace cli {

// Downloads `url` into `target` (a native path, as the command line gave it) with the download task, showing
// progress on stderr (a bar on a terminal, a line every second otherwise) with the speed and the time left,
// and waits for the end. SIGINT and SIGTERM stop the task, which keeps its partial files for a later resume.
// The final path, or why the download failed.
common::Result<std::filesystem::path, download::DownloadError> runDownload(
    const std::string &url, const std::filesystem::path &target, int connections, Streams &streams);

} // namespace cli
