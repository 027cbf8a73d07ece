#include "cli/progressreport.h"

#include "common/gbk.h"
#include "download/download.h"
#include "download/progress.h"
#include "platform/terminal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>

namespace cli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int)
{
    interrupted = true;
}

// Routes SIGINT and SIGTERM to the flag while it lives.
class InterruptGuard
{
public:
    InterruptGuard()
    {
        interrupted = false;
        struct sigaction action
        {
        };
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_int);
        sigaction(SIGTERM, &action, &m_term);
    }
    ~InterruptGuard()
    {
        sigaction(SIGINT, &m_int, nullptr);
        sigaction(SIGTERM, &m_term, nullptr);
    }
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;

private:
    struct sigaction m_int
    {
    };
    struct sigaction m_term
    {
    };
};

// "[#####...] 37% 95.2MiB/256.0MiB 5.1MiB/s ETA 0:00:31" on a terminal, a plain line otherwise.
std::string describe(std::int64_t received, double total, double speed, bool bar)
{
    const download::ProgressView view = download::progressView(received, total);
    const std::string amounts = download::formatBytes(static_cast<double>(received))
        + (total > 0 ? "/" + download::formatBytes(total) : std::string()) + " " + download::formatSpeed(speed)
        + " ETA " + download::formatTimeLeft(download::secondsLeft(received, total, speed));
    char line[200];
    if (!bar) {
        std::snprintf(line, sizeof line, "%ld%% %s\n", view.labelPercent, amounts.c_str());
        return line;
    }
    const int filled = view.barPosition * 30 / 100;
    std::snprintf(line, sizeof line, "\r[%-30s] %3ld%% %s\033[K",
        std::string(static_cast<std::size_t>(filled), '#').c_str(), view.labelPercent, amounts.c_str());
    return line;
}

} // namespace

common::Result<std::filesystem::path, download::DownloadError> runDownload(
    const std::string &url, const std::filesystem::path &target, const DownloadOptions &options, Streams &)
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
    param.connections = options.connections;
    param.expectedSha256 = options.sha256;
    param.maxBytesPerSecond = options.maxBytesPerSecond;
    const InterruptGuard guard;
    download::Download task;
    if (!task.Start(param))
        return common::unexpected(
            download::DownloadError{download::DownloadError::Kind::Network, false, 0, common::gbk("无法启动下载任务")});
    const bool bar = platform::stderrIsTerminal();
    bool shown = true; // progress stops once it cannot be written; the download goes on
    download::SpeedMeter speed;
    auto lastReport = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::unique_lock lock(mutex);
            if (endedSignal.wait_for(lock, std::chrono::milliseconds(200), [&ended] { return ended; }))
                break;
        }
        if (interrupted.load())
            task.Stop();
        const auto now = std::chrono::steady_clock::now();
        const std::int64_t received = task.Received();
        speed.add(now, received);
        if (shown && (bar || now - lastReport >= std::chrono::seconds(1))) {
            lastReport = now;
            shown = std::fputs(describe(received, total.load(), speed.bytesPerSecond(), bar).c_str(), stderr) != EOF;
        }
    }
    if (bar && shown)
        std::fputs("\n", stderr);
    task.Stop();
    if (const auto error = task.lastError())
        return common::unexpected(*error);
    return task.lastPath();
}

} // namespace cli
