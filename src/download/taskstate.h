#pragma once

#include <atomic>
#include <cstdint>
#include <curl/curl.h>
#include <mutex>

namespace download {

// What a download task's thread and the callers of its Download share. Counters and flags are atomics; the
// rest is guarded.
struct TaskState
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
    void wake()
    {
        const std::lock_guard lock(mutex);
        if (CURLM *handle = multi.load())
            curl_multi_wakeup(handle);
    }
};

} // namespace download
