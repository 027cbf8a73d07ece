#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// A pool of worker threads with a first-in first-out work queue. Standard C++, and POSIX threads for the
// workers' stack size.
//
// Workers grow on demand from a minimum to a maximum: an item queued while no idle worker is left for it starts
// one more (up to the maximum). A worker that waits longer than the idle time-out for work retires while more than the
// minimum are alive; retirement never takes the pool below the minimum, and an idle time-out of -1 (any negative
// value) keeps every worker until the pool is freed. Idle workers sleep: they use no processor time while they
// wait. Work routines may queue further items. All operations are thread-safe.
namespace threadpool {

using WorkRoutine = std::function<void(std::uint32_t item)>;

// Runs on each worker thread before its first item and after its last, for per-thread set-up such as a
// component library's initialisation.
struct ThreadHooks
{
    std::function<void()> onStart;
    std::function<void()> onStop;
};

struct Pool;
using PoolHandle = Pool *;

constexpr int DefaultMinimumThreads = 5;
constexpr int DefaultMaximumThreads = 20;

// Starts `minimumThreads` workers at once. A minimum or maximum below 1 takes its default; a maximum below
// the minimum is raised to it. Each worker gets a stack of `stackSizeBytes` (raised to the platform's least
// stack; 0 or less: the platform's default). Returns nullptr when no worker could be started.
PoolHandle CreateThreadPool(int minimumThreads, int maximumThreads, WorkRoutine routine, int idleTimeoutMs,
    int stackSizeBytes = 1024 * 1024, ThreadHooks hooks = {});

// Tells every worker to stop and waits for them at most `waitMs` (-1 without limit). Items still queued are
// dropped without running. Workers that are still busy when the wait ends finish their item and end on their
// own; the handle is invalid after the call either way.
void FreeThreadPool(PoolHandle pool, int waitMs);

void QueueUserWorkItem(PoolHandle pool, std::uint32_t item);

int GetThreadNum(PoolHandle pool); // workers alive
int GetFreeThreadNum(PoolHandle pool); // workers waiting for work
int GetQueueLen(PoolHandle pool); // items queued and not yet taken

} // namespace threadpool
