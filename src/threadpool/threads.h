#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Thin thread and lock operations in the traditional names, over the standard library. Thread-safe.
//
// Not offered, because portable C++ cannot honour them: forced termination (TerminateThread), suspending a
// running thread (SuspendThread), and ending the calling thread from inside (ExitThread). A thread ends by
// returning from its routine, with the routine's result as its exit code.
namespace threadpool {

constexpr std::uint32_t StillActive = 259;

class Thread
{
public:
    ~Thread(); // a thread still running is detached and finishes on its own
    std::uint32_t exitCode() const { return m_exitCode->load(); }

private:
    friend std::unique_ptr<Thread> CreateThread(std::function<std::uint32_t()>, bool);
    friend bool ResumeThread(Thread &);
    friend void CloseHandle(std::unique_ptr<Thread> &);

    std::thread m_thread;
    // Shared with the running thread, so a detached thread never writes into a freed handle.
    std::shared_ptr<std::atomic<std::uint32_t>> m_exitCode = std::make_shared<std::atomic<std::uint32_t>>(StillActive);
    std::shared_ptr<std::atomic<bool>> m_released = std::make_shared<std::atomic<bool>>(false);
};

// Starts `routine` on a new thread; with `suspended` it waits for ResumeThread before running. Nothing when
// no thread can be started.
std::unique_ptr<Thread> CreateThread(std::function<std::uint32_t()> routine, bool suspended = false);
// Lets a thread created suspended run. False when it was already running.
bool ResumeThread(Thread &thread);
// The routine's result, or StillActive while it runs.
std::uint32_t GetExitCodeThread(const Thread &thread);
// Waits for a finished thread, lets a running one go on by itself, and releases the handle.
void CloseHandle(std::unique_ptr<Thread> &thread);

// A lock the same thread may take again, as a critical section can.
class CriticalSection
{
public:
    void EnterCriticalSection() { m_mutex.lock(); }
    bool TryEnterCriticalSection() { return m_mutex.try_lock(); }
    void LeaveCriticalSection() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

} // namespace threadpool
