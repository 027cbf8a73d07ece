#pragma once

#include "common/result.h"
#include "download/downloaderror.h"
#include "download/taskparam.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace download {

struct TaskState;

// The download object: at most one running task that writes one remote file over parallel ranged connections.
// The data goes into "<target>.part", with a control record in "<target>.part.ctl"; the target's name appears
// only once every byte of one version of the file has arrived, and an existing file is never overwritten.
// A task that is stopped, or fails in a way a later attempt may overcome, leaves both files, and starting the
// same address to the same target again resumes from the record. Thread-safe; never destroy it from its own
// event routine.
class Download
{
public:
    Download();
    ~Download(); // stops a running task
    Download(const Download &) = delete;
    Download &operator=(const Download &) = delete;

    // Copies `param` and starts the task on a thread of its own. False when a task is running.
    bool Start(const TaskParam &param);
    // Bytes of the file in hand for the running task (a resumed task starts with what its record holds);
    // 0 when none runs.
    std::int64_t Received() const;
    // The total size the running task announced (event 3); 0 until then, and when none runs. Whoever started
    // the task, so a window can show the progress of a download it shares.
    double total() const;
    // Tells the running task to end, wakes it and waits for its thread to end. The task raises event 4 before
    // that. Called from the task's own event routine, it only tells the task to end.
    void Stop();

    bool running() const;
    // The outcome of the last task that ended. It stays until the next task ends, so the event routine of
    // event 4 may read it. Whether that task delivered the whole file under its final name:
    bool lastSucceeded() const;
    // its final path (native; empty unless it succeeded);
    std::filesystem::path lastPath() const;
    // why it failed (nothing when it succeeded or no task has ended).
    std::optional<DownloadError> lastError() const;

    using State = TaskState;
    using Outcome = common::Result<std::filesystem::path, DownloadError>;

private:
    std::shared_ptr<State> state() const;
    void run(const std::shared_ptr<State> &state, const TaskParam &param);

    std::shared_ptr<State> m_state; // guarded by m_mutex; the task shares it
    std::optional<Outcome> m_lastOutcome; // guarded by m_mutex; kept until the next task ends
    std::thread m_thread; // guarded by m_mutex; never joined while m_mutex is held
    mutable std::mutex m_mutex;
};

} // namespace download
