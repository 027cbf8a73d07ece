#pragma once

#include "cli/commands.h"

#include <string>

namespace cli {

struct DownloadOutcome
{
    bool succeeded = false;
    std::string path; // UTF-8, the final local path
};

// Downloads `url` into the GBK path `target` with the download task, showing progress on stderr (a bar on a
// terminal, a line every second otherwise), and waits for the end.
DownloadOutcome runDownload(const std::string &url, const std::string &target, int connections, Streams &streams);

} // namespace cli
