#include "threadpool/threadpool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace threadpool {

// Shared by the handle and every worker, so a worker that outlives FreeThreadPool still has its state.
struct Shared
{
    int minimum = DefaultMinimumThreads;
    int maximum = DefaultMaximumThreads;
    std::chrono::milliseconds idleTimeout{0};
    WorkRoutine routine;
    ThreadHooks hooks;

    std::mutex mutex; // guards queue and stopping
    std::condition_variable workOrStop;
    std::deque<std::uint32_t> queue;
    bool stopping = false;

    std::atomic<int> threads{0};
    std::atomic<int> idle{0};
    std::atomic<int> queueLength{0};

    std::mutex goneMutex;
    std::condition_variable allGone;
};

struct Pool
{
    std::shared_ptr<Shared> shared;
};

namespace {

// Leaves the pool if that keeps at least the minimum alive; a compare-exchange so two idle workers cannot
// both retire past the minimum.
bool claimRetirement(Shared &s)
{
    int alive = s.threads.load();
    while (alive > s.minimum) {
        if (s.threads.compare_exchange_weak(alive, alive - 1))
            return true;
    }
    return false;
}

void workerLoop(const std::shared_ptr<Shared> &shared)
{
    Shared &s = *shared;
    if (s.hooks.onStart)
        s.hooks.onStart();
    s.idle.fetch_add(1);
    bool counted = true; // still counted in s.threads
    for (;;) {
        std::unique_lock lock(s.mutex);
        const bool woken = s.workOrStop.wait_for(lock, s.idleTimeout, [&s] { return s.stopping || !s.queue.empty(); });
        if (s.stopping)
            break;
        if (!woken) {
            lock.unlock();
            if (claimRetirement(s)) {
                counted = false;
                break;
            }
            continue;
        }
        const std::uint32_t item = s.queue.front();
        s.queue.pop_front();
        s.queueLength.fetch_sub(1);
        lock.unlock();
        s.idle.fetch_sub(1);
        try {
            s.routine(item);
        } catch (...) {
            // A work routine's exception ends that item, never the worker.
        }
        s.idle.fetch_add(1);
    }
    if (s.hooks.onStop)
        s.hooks.onStop();
    s.idle.fetch_sub(1);
    const int left = counted ? s.threads.fetch_sub(1) - 1 : s.threads.load();
    if (left == 0) {
        const std::lock_guard lock(s.goneMutex);
        s.allGone.notify_all();
    }
}

bool startWorker(const std::shared_ptr<Shared> &shared)
{
    shared->threads.fetch_add(1);
    try {
        std::thread([shared] { workerLoop(shared); }).detach();
        return true;
    } catch (const std::system_error &) {
        shared->threads.fetch_sub(1);
        return false;
    }
}

} // namespace

PoolHandle CreateThreadPool(int minimumThreads, int maximumThreads, WorkRoutine routine, int idleTimeoutMs,
    int /*stackSizeBytes*/, ThreadHooks hooks)
{
    auto shared = std::make_shared<Shared>();
    shared->minimum = minimumThreads >= 1 ? minimumThreads : DefaultMinimumThreads;
    shared->maximum = std::max(maximumThreads >= 1 ? maximumThreads : DefaultMaximumThreads, shared->minimum);
    shared->idleTimeout = std::chrono::milliseconds(std::max(0, idleTimeoutMs));
    shared->routine = std::move(routine);
    shared->hooks = std::move(hooks);
    int started = 0;
    for (int i = 0; i < shared->minimum; ++i)
        started += startWorker(shared) ? 1 : 0;
    if (started == 0)
        return nullptr;
    return new Pool{std::move(shared)};
}

void FreeThreadPool(PoolHandle pool, int waitMs)
{
    if (!pool)
        return;
    Shared &s = *pool->shared;
    {
        const std::lock_guard lock(s.mutex);
        s.stopping = true;
        s.queueLength.fetch_sub(static_cast<int>(s.queue.size()));
        s.queue.clear();
    }
    s.workOrStop.notify_all();
    std::unique_lock lock(s.goneMutex);
    const auto gone = [&s] { return s.threads.load() == 0; };
    if (waitMs < 0)
        s.allGone.wait(lock, gone);
    else
        s.allGone.wait_for(lock, std::chrono::milliseconds(waitMs), gone);
    lock.unlock();
    delete pool;
}

void QueueUserWorkItem(PoolHandle pool, std::uint32_t item)
{
    if (!pool)
        return;
    Shared &s = *pool->shared;
    {
        const std::lock_guard lock(s.mutex);
        if (s.stopping)
            return;
        // Idle workers may already be promised to items queued before this one: grow while the queue holds at
        // least as many items as there are idle workers to take them.
        if (static_cast<int>(s.queue.size()) >= s.idle.load() && s.threads.load() < s.maximum)
            startWorker(pool->shared);
        s.queue.push_back(item);
        s.queueLength.fetch_add(1);
    }
    s.workOrStop.notify_one();
}

int GetThreadNum(PoolHandle pool)
{
    return pool ? pool->shared->threads.load() : 0;
}

int GetFreeThreadNum(PoolHandle pool)
{
    return pool ? pool->shared->idle.load() : 0;
}

int GetQueueLen(PoolHandle pool)
{
    return pool ? pool->shared->queueLength.load() : 0;
}

} // namespace threadpool
