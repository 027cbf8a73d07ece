#include "support/waituntil.h"
#include "threadpool/threadpool.h"
#include "threadpool/threads.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <gtest/gtest.h>
#include <latch>
#include <limits.h>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

using namespace threadpool;
using namespace std::chrono_literals;

namespace {

// This thread's processor time, in seconds.
double threadSeconds()
{
    timespec used{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

// The processor time of the threads that `track` was called on, in seconds.
class ThreadClocks
{
public:
    void track()
    {
        clockid_t clock;
        pthread_getcpuclockid(pthread_self(), &clock);
        const std::lock_guard lock(m_mutex);
        m_clocks.push_back(clock);
    }
    double seconds()
    {
        const std::lock_guard lock(m_mutex);
        double sum = 0;
        for (const clockid_t clock : m_clocks) {
            timespec used{};
            clock_gettime(clock, &used);
            sum += static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
        }
        return sum;
    }

private:
    std::mutex m_mutex;
    std::vector<clockid_t> m_clocks;
};

std::size_t ownStackBytes()
{
    pthread_attr_t attributes;
    pthread_getattr_np(pthread_self(), &attributes);
    std::size_t bytes = 0;
    pthread_attr_getstacksize(&attributes, &bytes);
    pthread_attr_destroy(&attributes);
    return bytes;
}

} // namespace

TEST(ThreadPool, StartsTheMinimumAtOnceAndTakesDefaults)
{
    PoolHandle pool = CreateThreadPool(
        5, 20, [](std::uint32_t) {}, 60000);
    EXPECT_EQ(GetThreadNum(pool), 5);
    EXPECT_TRUE(waitUntil([&] { return GetFreeThreadNum(pool) == 5; }));
    EXPECT_EQ(GetQueueLen(pool), 0);
    FreeThreadPool(pool, -1);

    PoolHandle defaults = CreateThreadPool(
        0, -3, [](std::uint32_t) {}, 60000);
    EXPECT_EQ(GetThreadNum(defaults), DefaultMinimumThreads);
    FreeThreadPool(defaults, -1);
}

TEST(ThreadPool, ItemsWaitWhileEveryWorkerIsBusyAtTheMaximum)
{
    std::latch release(1);
    std::atomic<int> done{0};
    PoolHandle pool = CreateThreadPool(
        1, 2,
        [&](std::uint32_t) {
            release.wait();
            ++done;
        },
        60000);
    for (std::uint32_t i = 0; i < 5; ++i)
        QueueUserWorkItem(pool, i);
    EXPECT_TRUE(waitUntil([&] { return GetQueueLen(pool) == 3; }));
    EXPECT_EQ(GetThreadNum(pool), 2);
    EXPECT_EQ(GetFreeThreadNum(pool), 0);
    release.count_down();
    EXPECT_TRUE(waitUntil([&] { return done == 5; }));
    EXPECT_EQ(GetQueueLen(pool), 0);
    FreeThreadPool(pool, -1);
}

TEST(ThreadPool, IdleWorkersRetireToTheMinimumAndNeverBelow)
{
    std::latch release(1);
    std::latch secondRound(1);
    std::atomic<int> started{0};
    std::atomic<int> stopped{0};
    PoolHandle pool = CreateThreadPool(2, 8, [&](std::uint32_t item) { (item < 8 ? release : secondRound).wait(); }, 50,
        1 << 20, {[&] { ++started; }, [&] { ++stopped; }});
    ASSERT_TRUE(waitUntil([&] { return GetFreeThreadNum(pool) == 2; }));
    for (std::uint32_t i = 0; i < 8; ++i)
        QueueUserWorkItem(pool, i);
    EXPECT_EQ(GetThreadNum(pool), 8);
    release.count_down();
    EXPECT_TRUE(waitUntil([&] { return stopped.load() == 6; }));
    // The two left take the next two items themselves: no worker has to be started for them.
    QueueUserWorkItem(pool, 8);
    QueueUserWorkItem(pool, 9);
    EXPECT_TRUE(waitUntil([&] { return GetFreeThreadNum(pool) == 0; }));
    EXPECT_EQ(started.load(), 8);
    EXPECT_EQ(stopped.load(), 6);
    EXPECT_EQ(GetThreadNum(pool), 2);
    secondRound.count_down();
    FreeThreadPool(pool, -1);
    EXPECT_EQ(stopped.load(), 8);
}

TEST(ThreadPool, IdleWorkersSleepAndMinusOneKeepsThemAll)
{
    const struct
    {
        const char *name;
        int idleTimeoutMs;
        int keptWorkers;
    } cases[] = {{"without limit", -1, 3}, {"no time-out", 0, 1}};
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        ThreadClocks clocks;
        std::latch busy(3);
        std::latch release(1);
        PoolHandle pool = CreateThreadPool(1, 3,
            [&](std::uint32_t) {
                busy.count_down();
                release.wait();
            },
            row.idleTimeoutMs, 1 << 20, {[&] { clocks.track(); }, nullptr});
        for (std::uint32_t i = 0; i < 3; ++i)
            QueueUserWorkItem(pool, i);
        busy.wait();
        release.count_down();
        ASSERT_TRUE(waitUntil([&] { return GetFreeThreadNum(pool) == row.keptWorkers; }));
        // While this thread works for a fifth of a second of processor time, a worker that polled would get a
        // share of the processors too; sleeping workers get none.
        const double before = clocks.seconds();
        const double busyUntil = threadSeconds() + 0.2;
        while (threadSeconds() < busyUntil) { }
        EXPECT_LT(clocks.seconds() - before, 0.02);
        EXPECT_EQ(GetThreadNum(pool), row.keptWorkers);
        FreeThreadPool(pool, -1);
    }
}

TEST(ThreadPool, WorkersHaveTheStackSizeAsked)
{
    const std::size_t platformDefault = [] {
        std::size_t bytes = 0;
        std::thread([&] { bytes = ownStackBytes(); }).join();
        return bytes;
    }();
    const auto least = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    // The C library may hand a thread a cached stack of up to four times the size asked.
    const struct
    {
        const char *name;
        int asked;
        std::size_t least;
        std::size_t most;
    } cases[] = {
        {"smaller than the default", 256 << 10, 256 << 10, 1 << 20},
        {"larger than the default", 32 << 20, 32 << 20, 128 << 20},
        {"below the platform's least", 1, least, platformDefault / 2}, // sanitizers raise small stacks
        {"none", 0, platformDefault, 4 * platformDefault},
    };
    ASSERT_GT(platformDefault, std::size_t{1} << 20);
    ASSERT_LT(platformDefault, std::size_t{32} << 20);
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        std::atomic<std::size_t> seen{0};
        std::latch ran(1);
        PoolHandle pool = CreateThreadPool(
            1, 1,
            [&](std::uint32_t) {
                seen = ownStackBytes();
                ran.count_down();
            },
            -1, row.asked);
        QueueUserWorkItem(pool, 0);
        ran.wait();
        FreeThreadPool(pool, -1);
        EXPECT_GE(seen.load(), row.least);
        EXPECT_LE(seen.load(), row.most);
    }
}

// Two items that wait for each other. The second is queued while the one idle worker is already promised to
// the first: only a worker of its own lets both run. A pool that grows only when no worker is idle at all
// runs them one after the other, and the first waits for the second for ever.
TEST(ThreadPool, AnItemQueuedWhileTheIdleWorkerIsPromisedGetsAWorkerOfItsOwn)
{
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::mutex mutex;
        std::condition_variable arrived;
        int present = 0;
        std::atomic<int> met{0};
        std::latch finished(2);
        PoolHandle pool = CreateThreadPool(
            1, 2,
            [&](std::uint32_t) {
                std::unique_lock lock(mutex);
                ++present;
                arrived.notify_all();
                // Bounded, so that a pool that serialises the two still ends the test.
                if (arrived.wait_for(lock, 2s, [&] { return present == 2; }))
                    ++met;
                finished.count_down();
            },
            60000);
        ASSERT_TRUE(waitUntil([&] { return GetFreeThreadNum(pool) == 1; }));
        QueueUserWorkItem(pool, 1);
        QueueUserWorkItem(pool, 2);
        finished.wait();
        FreeThreadPool(pool, -1);
        ASSERT_EQ(met.load(), 2);
    }
}

TEST(ThreadPool, FreeWithoutLimitReturnsAfterEveryWorkerEnded)
{
    std::atomic<int> stopped{0};
    std::atomic<int> ran{0};
    std::atomic<bool> queued{false};
    std::atomic<bool> emptied{false};
    PoolHandle pool = nullptr;
    // Each item holds its worker until every item is queued and the queue is empty again, which only the free
    // does while all three workers are held.
    pool = CreateThreadPool(3, 3,
        [&](std::uint32_t) {
            if (waitUntil([&] { return queued && GetQueueLen(pool) == 0; }))
                emptied = true;
            ++ran;
        },
        60000, 1 << 20, {nullptr, [&] { ++stopped; }});
    for (std::uint32_t i = 0; i < 50; ++i)
        QueueUserWorkItem(pool, i);
    queued = true;
    EXPECT_TRUE(waitUntil([&] { return GetQueueLen(pool) == 47; }));
    FreeThreadPool(pool, -1);
    EXPECT_EQ(stopped.load(), 3);
    EXPECT_TRUE(emptied.load());
    // What was still queued was dropped, not run.
    EXPECT_EQ(ran.load(), 3);
}

TEST(ThreadPool, OneWorkerRunsItemsInQueueOrder)
{
    std::mutex mutex;
    std::vector<std::uint32_t> order;
    std::latch finished(100);
    PoolHandle pool = CreateThreadPool(
        1, 1,
        [&](std::uint32_t item) {
            {
                const std::lock_guard lock(mutex);
                order.push_back(item);
            }
            finished.count_down();
        },
        60000);
    for (std::uint32_t i = 0; i < 100; ++i)
        QueueUserWorkItem(pool, i);
    finished.wait();
    FreeThreadPool(pool, -1);
    for (std::uint32_t i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(ThreadPool, RoutinesQueueFurtherItemsAndManyProducersLoseNothing)
{
    std::atomic<int> ran{0};
    PoolHandle pool = nullptr;
    std::latch finished(8 * 1000 * 2);
    pool = CreateThreadPool(
        2, 6,
        [&](std::uint32_t item) {
            ++ran;
            if (item % 2 == 0)
                QueueUserWorkItem(pool, item + 1); // every even item brings an odd one
            finished.count_down();
        },
        60000);
    std::vector<std::thread> producers;
    for (int p = 0; p < 8; ++p) {
        producers.emplace_back([pool] {
            for (std::uint32_t i = 0; i < 1000; ++i)
                QueueUserWorkItem(pool, i * 2);
        });
    }
    for (auto &producer : producers)
        producer.join();
    finished.wait();
    EXPECT_EQ(ran.load(), 16000);
    FreeThreadPool(pool, -1);
}

TEST(Threads, SuspendedThreadRunsOnResumeAndReportsItsExitCode)
{
    std::atomic<bool> resumed{false};
    // 7 only when it runs after the resume; a thread that ran at once says 1.
    auto thread = CreateThread([&resumed] { return resumed.load() ? 7u : 1u; }, true);
    ASSERT_NE(thread, nullptr);
    // A thread started after it has run and ended: one that had not waited would most likely have run by now.
    std::thread([] {}).join();
    EXPECT_EQ(GetExitCodeThread(*thread), StillActive);
    resumed = true;
    EXPECT_TRUE(ResumeThread(*thread));
    EXPECT_FALSE(ResumeThread(*thread));
    EXPECT_TRUE(waitUntil([&] { return GetExitCodeThread(*thread) == 7; }));
    CloseHandle(thread);
    EXPECT_EQ(thread, nullptr);

    CriticalSection section;
    section.EnterCriticalSection();
    EXPECT_TRUE(section.TryEnterCriticalSection()); // the same thread may enter again
    bool otherEntered = true;
    std::thread([&] { otherEntered = section.TryEnterCriticalSection(); }).join();
    EXPECT_FALSE(otherEntered);
    section.LeaveCriticalSection();
    section.LeaveCriticalSection();
}
