#include "download/download.h"

#include "download/curlhandles.h"
#include "download/taskstate.h"
#include "download/transfer.h"

namespace download {

namespace {

// The task whose thread this is. Its event routine may call back into its own object, which then answers from
// the task's own state and never waits for the thread it runs on.
struct OwnTask
{
    const Download *owner = nullptr;
    std::shared_ptr<Download::State> state;
};

thread_local OwnTask t_ownTask;

} // namespace

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
            t_ownTask = {this, state};
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
    if (t_ownTask.owner == this)
        return t_ownTask.state;
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
    if (t_ownTask.owner == this) { // from the task's own event routine: it ends once the routine returns
        t_ownTask.state->stop = true;
        t_ownTask.state->wake();
        return;
    }
    std::shared_ptr<State> current;
    std::thread thread;
    {
        const std::lock_guard lock(m_mutex);
        current = m_state;
        thread = std::move(m_thread);
    }
    current->stop = true;
    current->wake();
    if (thread.joinable())
        thread.join();
}

} // namespace download
