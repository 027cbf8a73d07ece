#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace platform {

// Runs `work` on a thread of its own and gives its result when it ends by `deadline`, nothing when it does not.
// Work that is late goes on in the background to its end with what it captured (capture by value), and its
// result is dropped. For system calls that take no limit of their own, such as the host-name look-up. When no
// thread can be started, `work` runs on the caller's. Thread-safe.
template <typename Work>
auto untilDeadline(Work work, std::chrono::steady_clock::time_point deadline) -> std::optional<decltype(work())>
{
    using Result = decltype(work());
    // Shared by the caller and the thread, so either may be the last to let go of it.
    struct Handover
    {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result> result;
        std::atomic<bool> ready{false}; // set after `result`, which is read only once it is seen set
    };
    const auto handover = std::make_shared<Handover>();
    auto run = [handover, work = std::move(work)]() mutable {
        handover->result = work();
        const std::lock_guard lock(handover->mutex);
        handover->ready.store(true, std::memory_order_release);
        handover->done.notify_all();
    };
    try {
        std::thread(run).detach(); // a copy: `run` stays whole if the thread cannot start
    } catch (const std::system_error &) {
        run();
    }
    std::unique_lock lock(handover->mutex);
    if (!handover->done.wait_until(
            lock, deadline, [&handover] { return handover->ready.load(std::memory_order_acquire); }))
        return std::nullopt;
    return std::move(handover->result);
}

} // namespace platform
