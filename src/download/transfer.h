#pragma once

#include "common/result.h"
#include "download/downloaderror.h"
#include "download/taskparam.h"
#include "download/taskstate.h"

#include <filesystem>

namespace download {

// The work of one task, on its own thread: claims the name, transfers, and publishes the file or keeps the
// partial files for a later resume. The final path, or why it failed. The caller raises event 4.
common::Result<std::filesystem::path, DownloadError> transferFile(
    TaskState &state, const TaskParam &param, Download *task);

} // namespace download
