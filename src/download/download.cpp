#include "download/download.h"

#include "download/curlhandles.h"
#include "download/transfer.h"

#include <chrono>

namespace download {

Download::Download()
    : m_state(std::make_shared<State>())
{
}

Download::~Download()
{
    Stop();
}

bool Download::Start(const TaskParam &param)
{
    const std::lock_guard lock(m_mutex);
    if (m_state->running.load())
        return false;
    if (m_thread.joinable()) {
        // The previous task has ended (it may still be returning from its last event routine).
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
    curlReady(); // libcurl's global set-up is not thread-safe: do it here, not on the transfer thread
    auto state = std::make_shared<State>();
    state->running = true;
    state->succeeded = m_state->succeeded.load();
    m_state = state;
    TaskParam task = param;
    task.eventRoutine = [state, routine = param.eventRoutine](
                            int code, Download *download, double value, int reserved, Download *same) {
        if (code == EventTotalSize)
            state->total = value;
        return routine ? routine(code, download, value, reserved, same) : 0;
    };
    try {
        m_thread = std::thread([state, task, self = this] { runTransfer(*state, task, self); });
    } catch (const std::system_error &) {
        state->running = false;
        return false;
    }
    return true;
}

std::shared_ptr<Download::State> Download::state() const
{
    const std::lock_guard lock(m_mutex);
    return m_state;
}

std::int64_t Download::Received() const
{
    const auto current = state();
    return current->running.load() ? current->received.load() : 0;
}

double Download::total() const
{
    const auto current = state();
    return current->running.load() ? current->total.load() : 0;
}

bool Download::running() const
{
    return state()->running.load();
}

bool Download::lastSucceeded() const
{
    return state()->succeeded.load();
}

std::filesystem::path Download::lastPath() const
{
    const auto current = state();
    const std::lock_guard lock(current->mutex);
    return current->finalPath;
}

void Download::Stop()
{
    const std::shared_ptr<State> state = this->state();
    state->stop = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(state->retryDelayMs.load());
    while (state->running.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::lock_guard lock(m_mutex);
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        // A task that did not end in time keeps its own state alive and finishes on its own.
        if (state->running.load())
            m_thread.detach();
        else
            m_thread.join();
    }
}

} // namespace download
