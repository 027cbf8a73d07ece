#pragma once

#include "download/taskparam.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace download {

// The download object: at most one running task that writes one remote file over parallel ranged connections.
// The data goes into "<target>.part" beside the target and takes the target's name only once every byte has
// arrived, so a failed or stopped task never leaves a file that looks finished. An existing file is never
// overwritten. Thread-safe.
class Download
{
public:
    Download();
    ~Download(); // stops a running task
    Download(const Download &) = delete;
    Download &operator=(const Download &) = delete;

    // Copies `param` and starts the task on a thread of its own. False when a task is running.
    bool Start(const TaskParam &param);
    // Bytes received so far by the running task; 0 when none runs.
    std::int64_t Received() const;
    // The total size the running task announced (event 3); 0 until then, and when none runs. Whoever started
    // the task, so a window can show the progress of a download it shares.
    double total() const;
    // Tells the running task to end and waits for it at most its retry delay, checking every 20 ms.
    void Stop();

    bool running() const;
    // Whether the last task that ended delivered the whole file under its final name.
    bool lastSucceeded() const;
    // The final path (native) of the last task that succeeded.
    std::filesystem::path lastPath() const;

    struct State;

private:
    std::shared_ptr<State> state() const;

    std::shared_ptr<State> m_state; // guarded by m_mutex; the task shares it
    std::thread m_thread; // guarded by m_mutex
    mutable std::mutex m_mutex;
};

} // namespace download
