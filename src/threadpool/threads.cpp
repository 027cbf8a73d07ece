#include "threadpool/threads.h"

namespace threadpool {

Thread::~Thread()
{
    if (m_thread.joinable())
        m_thread.detach();
}

std::unique_ptr<Thread> CreateThread(std::function<std::uint32_t()> routine, bool suspended)
{
    auto thread = std::unique_ptr<Thread>(new Thread);
    auto released = thread->m_released;
    if (!suspended)
        released->store(true);
    try {
        thread->m_thread = std::thread([routine = std::move(routine), released, exitCode = thread->m_exitCode] {
            released->wait(false);
            exitCode->store(routine());
        });
    } catch (const std::system_error &) {
        return nullptr;
    }
    return thread;
}

bool ResumeThread(Thread &thread)
{
    if (thread.m_released->exchange(true))
        return false;
    thread.m_released->notify_all();
    return true;
}

std::uint32_t GetExitCodeThread(const Thread &thread)
{
    return thread.exitCode();
}

void CloseHandle(std::unique_ptr<Thread> &thread)
{
    if (!thread)
        return;
    if (thread->m_thread.joinable()) {
        if (thread->exitCode() != StillActive)
            thread->m_thread.join();
        else
            thread->m_thread.detach();
    }
    thread.reset();
}

} // namespace threadpool
