#include "cli/progressreport.h"

#include "download/download.h"
#include "download/progress.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace cli {

namespace {

std::string describe(std::int64_t received, double total, bool bar)
{
    const download::ProgressView view = download::progressView(received, total);
    char line[160];
    if (!bar) {
        std::snprintf(line, sizeof line, "%ld%% %lld bytes\n", view.labelPercent, static_cast<long long>(received));
        return line;
    }
    const int filled = view.barPosition * 40 / 100;
    std::snprintf(line, sizeof line, "\r[%-40s] %3ld%% %lld KiB",
        std::string(static_cast<std::size_t>(filled), '#').c_str(), view.labelPercent,
        static_cast<long long>(received / 1024));
    return line;
}

} // namespace

DownloadOutcome runDownload(const std::string &url, const std::string &target, int connections, Streams &)
{
    std::atomic<double> total{0};
    std::mutex mutex;
    std::condition_variable endedSignal;
    bool ended = false; // guarded by mutex
    download::TaskParam param = download::toolTaskParam(
        url, target, [&](int code, download::Download *, double value, int, download::Download *) {
            if (code == download::EventTotalSize) {
                total = value;
            } else if (code == download::EventEnded) {
                const std::lock_guard lock(mutex);
                ended = true;
                endedSignal.notify_all();
            }
            return 0;
        });
    param.connections = connections;
    download::Download task;
    if (!task.Start(param))
        return {};
    const bool bar = ::isatty(STDERR_FILENO) == 1;
    auto lastReport = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::unique_lock lock(mutex);
            if (endedSignal.wait_for(lock, std::chrono::milliseconds(200), [&ended] { return ended; }))
                break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (bar || now - lastReport >= std::chrono::seconds(1)) {
            lastReport = now;
            const std::string line = describe(task.Received(), total.load(), bar);
            std::fputs(line.c_str(), stderr);
        }
    }
    if (bar)
        std::fputs("\n", stderr);
    task.Stop();
    return {task.lastSucceeded(), task.lastPath().string()};
}

} // namespace cli
