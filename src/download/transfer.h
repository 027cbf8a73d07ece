#pragma once

#include "download/download.h"

#include <atomic>
#include <curl/curl.h>
#include <mutex>

namespace download {

// What the task thread and the callers of Download share. Counters and flags are atomics; the rest is guarded.
struct Download::State
{
    std::atomic<bool> running{false};
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> received{0};
    std::atomic<double> total{0}; // as announced by event 3
    // The running transfer's multi handle, so that Stop can wake its wait. It is set and cleared, and used
    // for a wake-up, while `mutex` is held, so a wake-up never meets a handle being cleaned up.
    std::mutex mutex;
    std::atomic<CURLM *> multi{nullptr};

    // Wakes the transfer's wait, if one runs. Any thread.
    void wake();
};

// The work of one task, on its own thread: claims the name, transfers, and publishes the file or keeps the
// partial files for a later resume. The final path, or why it failed. The caller raises event 4.
Download::Outcome transferFile(Download::State &state, const TaskParam &param, Download *task);

} // namespace download
