#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The thread of a helper beside a transfer (the record writer, the hasher), which waits on its owner's condition
// variable for work and quits when told. The system may have no thread to give: the owner then does the work on
// its own thread.
namespace download {

// `run` on a thread of its own; a thread that is not joinable when none could be started.
std::thread startSideThread(std::function<void()> run);

// Sets `quit` under `mutex`, wakes the thread that waits on `changed`, and waits for it to end.
void quitSideThread(std::thread &thread, std::mutex &mutex, bool &quit, std::condition_variable &changed);

} // namespace download
