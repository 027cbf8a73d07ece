#pragma once

#include "download/download.h"

#include <atomic>
#include <filesystem>
#include <mutex>

namespace download {

// What the task thread and the callers of Download share. Counters and flags are atomics; the path is guarded.
struct Download::State
{
    std::atomic<bool> running{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> succeeded{false};
    std::atomic<std::int64_t> received{0};
    std::atomic<double> total{0}; // as announced by event 3
    std::atomic<int> retryDelayMs{1000};
    std::mutex mutex;
    std::filesystem::path finalPath; // guarded by mutex
};

// The whole life of one task, on its own thread: picks the name, transfers, renames, raises event 4 last.
void runTransfer(Download::State &state, const TaskParam &param, Download *task);

} // namespace download
