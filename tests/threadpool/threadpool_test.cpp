#include "threadpool/threadpool.h"
#include "threadpool/threads.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

using namespace threadpool;
using namespace std::chrono_literals;

namespace {

// Polls `condition` for up to five seconds.
template <typename Condition> bool eventually(Condition condition)
{
    for (int i = 0; i < 500; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

} // namespace

TEST(ThreadPool, StartsTheMinimumAtOnceAndTakesDefaults)
{
    PoolHandle pool = CreateThreadPool(
        5, 20, [](std::uint32_t) {}, 60000);
    EXPECT_EQ(GetThreadNum(pool), 5);
    EXPECT_TRUE(eventually([&] { return GetFreeThreadNum(pool) == 5; }));
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
    EXPECT_TRUE(eventually([&] { return GetQueueLen(pool) == 3; }));
    EXPECT_EQ(GetThreadNum(pool), 2);
    EXPECT_EQ(GetFreeThreadNum(pool), 0);
    release.count_down();
    EXPECT_TRUE(eventually([&] { return done == 5; }));
    EXPECT_EQ(GetQueueLen(pool), 0);
    FreeThreadPool(pool, -1);
}

TEST(ThreadPool, IdleWorkersRetireToTheMinimumAndNeverBelow)
{
    std::latch release(1);
    PoolHandle pool = CreateThreadPool(
        2, 8, [&](std::uint32_t) { release.wait(); }, 50);
    ASSERT_TRUE(eventually([&] { return GetFreeThreadNum(pool) == 2; }));
    for (std::uint32_t i = 0; i < 8; ++i)
        QueueUserWorkItem(pool, i);
    EXPECT_EQ(GetThreadNum(pool), 8);
    release.count_down();
    EXPECT_TRUE(eventually([&] { return GetThreadNum(pool) == 2; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(GetThreadNum(pool), 2);
    FreeThreadPool(pool, -1);
}

TEST(ThreadPool, FreeWithoutLimitReturnsAfterEveryWorkerEnded)
{
    std::atomic<int> stopped{0};
    std::atomic<int> ran{0};
    PoolHandle pool = CreateThreadPool(3, 3,
        [&](std::uint32_t) {
            std::this_thread::sleep_for(50ms);
            ++ran;
        },
        60000, 1 << 20, {nullptr, [&] { ++stopped; }});
    for (std::uint32_t i = 0; i < 50; ++i)
        QueueUserWorkItem(pool, i);
    FreeThreadPool(pool, -1);
    EXPECT_EQ(stopped.load(), 3);
    // What was still queued was dropped, not run.
    EXPECT_LT(ran.load(), 50);
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
    auto thread = CreateThread([] { return 7u; }, true);
    ASSERT_NE(thread, nullptr);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(GetExitCodeThread(*thread), StillActive);
    EXPECT_TRUE(ResumeThread(*thread));
    EXPECT_FALSE(ResumeThread(*thread));
    EXPECT_TRUE(eventually([&] { return GetExitCodeThread(*thread) == 7; }));
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
