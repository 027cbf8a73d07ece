// Queues one million empty items through the pool and through a plain std::thread + std::queue + std::mutex
// baseline with the same number of workers, in one run, and prints items per second for each.
#include "threadpool/threadpool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t Items = 1000000;
constexpr int Workers = 2;

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double runPool()
{
    std::atomic<std::uint32_t> done{0};
    threadpool::PoolHandle pool = threadpool::CreateThreadPool(
        Workers, Workers, [&](std::uint32_t) { done.fetch_add(1, std::memory_order_relaxed); }, 60000);
    const auto start = std::chrono::steady_clock::now();
    for (std::uint32_t i = 0; i < Items; ++i)
        threadpool::QueueUserWorkItem(pool, i);
    while (done.load() < Items)
        std::this_thread::yield();
    const double elapsed = seconds(std::chrono::steady_clock::now() - start);
    threadpool::FreeThreadPool(pool, -1);
    return elapsed;
}

double runBaseline()
{
    std::mutex mutex;
    std::condition_variable ready;
    std::queue<std::uint32_t> queue;
    bool stop = false;
    std::atomic<std::uint32_t> done{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < Workers; ++w) {
        workers.emplace_back([&] {
            for (;;) {
                std::unique_lock lock(mutex);
                ready.wait(lock, [&] { return stop || !queue.empty(); });
                if (queue.empty())
                    return;
                queue.pop();
                lock.unlock();
                done.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    const auto start = std::chrono::steady_clock::now();
    for (std::uint32_t i = 0; i < Items; ++i) {
        {
            const std::lock_guard lock(mutex);
            queue.push(i);
        }
        ready.notify_one();
    }
    while (done.load() < Items)
        std::this_thread::yield();
    const double elapsed = seconds(std::chrono::steady_clock::now() - start);
    {
        const std::lock_guard lock(mutex);
        stop = true;
    }
    ready.notify_all();
    for (auto &w : workers)
        w.join();
    return elapsed;
}

} // namespace

int main()
{
    for (int round = 1; round <= 3; ++round) {
        const double pool = runPool();
        const double baseline = runBaseline();
        std::printf("round %d: pool %.2f M items/s, std::thread+queue+mutex %.2f M items/s\n", round,
            Items / pool / 1e6, Items / baseline / 1e6);
    }
}
