#include "threadpool/threadpool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits.h>
#include <mutex>
#include <optional>
#include <pthread.h>

namespace threadpool {

// Shared by the handle and every worker, so a worker that outlives FreeThreadPool still has its state.
struct Shared
{
    int minimum = DefaultMinimumThreads;
    int maximum = DefaultMaximumThreads;
    std::optional<std::chrono::milliseconds> idleTimeout; // none: without limit
    std::size_t stackBytes = 0; // 0: the platform's default
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

// Waits for an item or the stop; false when the idle time-out passed first. A worker at the minimum could not
// retire, so it waits without limit instead of waking up for nothing.
bool waitForWork(Shared &s, std::unique_lock<std::mutex> &lock)
{
    const auto ready = [&s] { return s.stopping || !s.queue.empty(); };
    if (!s.idleTimeout || s.threads.load() <= s.minimum) {
        s.workOrStop.wait(lock, ready);
        return true;
    }
    return s.workOrStop.wait_for(lock, *s.idleTimeout, ready);
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
        const bool woken = waitForWork(s, lock);
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
        // Under the lock, so that a producer never counts this worker as free for the next item.
        s.idle.fetch_sub(1);
        lock.unlock();
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

void *runWorker(void *shared)
{
    const std::unique_ptr<std::shared_ptr<Shared>> owned(static_cast<std::shared_ptr<Shared> *>(shared));
    workerLoop(*owned);
    return nullptr;
}

// A detached thread with the pool's stack size, which standard threads cannot be given.
bool startThread(const std::shared_ptr<Shared> &shared)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (shared->stackBytes > 0)
        pthread_attr_setstacksize(
            &attributes, std::max(shared->stackBytes, static_cast<std::size_t>(PTHREAD_STACK_MIN)));
    auto owned = std::make_unique<std::shared_ptr<Shared>>(shared);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, &runWorker, owned.get()) == 0;
    pthread_attr_destroy(&attributes);
    if (started)
        (void)owned.release(); // the thread owns it now
    return started;
}

bool startWorker(const std::shared_ptr<Shared> &shared)
{
    shared->threads.fetch_add(1);
    if (startThread(shared))
        return true;
    shared->threads.fetch_sub(1);
    return false;
}

} // namespace

PoolHandle CreateThreadPool(int minimumThreads, int maximumThreads, WorkRoutine routine, int idleTimeoutMs,
    int stackSizeBytes, ThreadHooks hooks)
{
    auto shared = std::make_shared<Shared>();
    shared->minimum = minimumThreads >= 1 ? minimumThreads : DefaultMinimumThreads;
    shared->maximum = std::max(maximumThreads >= 1 ? maximumThreads : DefaultMaximumThreads, shared->minimum);
    if (idleTimeoutMs >= 0)
        shared->idleTimeout = std::chrono::milliseconds(idleTimeoutMs);
    shared->stackBytes = stackSizeBytes > 0 ? static_cast<std::size_t>(stackSizeBytes) : 0;
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
        // least as many items as there are idle workers to take them. Growing only when no worker at all is
        // idle would leave this item waiting behind a busy one while the pool is below its maximum.
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
