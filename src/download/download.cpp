#include "download/download.h"

#include "download/curlhandles.h"
#include "download/transfer.h"

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
    curlReady(); // libcurl's global set-up is not thread-safe: do it here, not on the transfer thread
    auto state = std::make_shared<State>();
    state->running = true;
    // The previous task's thread may still be returning from its last event routine (which may be the caller):
    // the new thread waits for it.
    auto previous = std::make_shared<std::thread>(std::move(m_thread));
    TaskParam task = param;
    task.eventRoutine = [state, routine = param.eventRoutine](
                            int code, Download *download, double value, int reserved, Download *same) {
        if (code == EventTotalSize)
            state->total = value;
        return routine ? routine(code, download, value, reserved, same) : 0;
    };
    try {
        m_thread = std::thread([state, task, previous, this] {
            if (previous->joinable())
                previous->join();
            run(state, task);
        });
    } catch (const std::system_error &) {
        m_thread = std::move(*previous);
        return false;
    }
    m_state = state;
    return true;
}

void Download::run(const std::shared_ptr<State> &state, const TaskParam &param)
{
    Outcome outcome = transferFile(*state, param, this);
    {
        const std::lock_guard lock(m_mutex);
        m_lastOutcome = std::move(outcome);
    }
    const double received = static_cast<double>(state->received.load());
    state->running = false;
    if (param.eventRoutine)
        param.eventRoutine(EventEnded, this, received, 0, this);
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
    const std::lock_guard lock(m_mutex);
    return m_lastOutcome && m_lastOutcome->has_value();
}

std::filesystem::path Download::lastPath() const
{
    const std::lock_guard lock(m_mutex);
    return m_lastOutcome && m_lastOutcome->has_value() ? m_lastOutcome->value() : std::filesystem::path();
}

std::optional<DownloadError> Download::lastError() const
{
    const std::lock_guard lock(m_mutex);
    if (!m_lastOutcome || m_lastOutcome->has_value())
        return std::nullopt;
    return m_lastOutcome->error();
}

void Download::Stop()
{
    std::shared_ptr<State> current;
    std::thread thread;
    {
        const std::lock_guard lock(m_mutex);
        current = m_state;
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
            thread = std::move(m_thread);
    }
    current->stop = true;
    current->wake();
    if (thread.joinable())
        thread.join();
}

} // namespace download
