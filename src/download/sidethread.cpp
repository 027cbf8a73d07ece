#include "download/sidethread.h"

#include <system_error>

namespace download {

std::thread startSideThread(std::function<void()> run)
{
    try {
        return std::thread(std::move(run));
    } catch (const std::system_error &) {
        return {};
    }
}

void quitSideThread(std::thread &thread, std::mutex &mutex, bool &quit, std::condition_variable &changed)
{
    {
        const std::lock_guard lock(mutex);
        quit = true;
    }
    changed.notify_all();
    if (thread.joinable())
        thread.join();
}

} // namespace download
