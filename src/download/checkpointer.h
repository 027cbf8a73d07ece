#pragma once

#include "download/partfiles.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace download {

// Writes the control records of one download on a thread of its own, so the transfer never waits for the
// disk. Each record is written only after the partial file's data has reached the disk (fdatasync), so a
// record never claims bytes that a power loss could take back. Records written in the background are at
// least `spacing` apart (the first one `spacing` after the start): each one flushes everything written
// since, and on a fast link more frequent flushes would hold the transfer to the disk's speed. Of the records
// that come meanwhile only the latest is written. Used by the task's thread; the files outlive it.
class Checkpointer
{
public:
    explicit Checkpointer(const PartFiles &files, std::chrono::milliseconds spacing = std::chrono::seconds(1));
    ~Checkpointer(); // drops a record not yet begun, finishes one being written, joins
    Checkpointer(const Checkpointer &) = delete;
    Checkpointer &operator=(const Checkpointer &) = delete;

    // Hands over a record describing data that has been written; returns at once.
    void submit(ControlRecord record);
    // Waits until no record is in hand, then writes `record` before returning.
    common::Result<void, DownloadError> writeNow(const ControlRecord &record);

private:
    void run();
    common::Result<void, DownloadError> write(const ControlRecord &record);

    const PartFiles &m_files;
    const std::chrono::milliseconds m_spacing;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<ControlRecord> m_next; // guarded by m_mutex
    bool m_writing = false; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex
    std::thread m_thread; // not joinable when no thread could be started: records are then written at once
};

} // namespace download
