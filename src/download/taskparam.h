#pragma once

#include "common/sha256.h"
#include "download/proxy.h"
#include "download/speedlimit.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace download {

class Download;

// Event codes of a download task.
enum DownloadEvent : int
{
    EventTotalSize = 3, // value: the remote file's total size in bytes
    EventEnded = 4, // value: bytes received; raised exactly once per task, however it ends
    EventNameTaken = 18 // the target name exists; return 0 to let the task pick a free name, 1 to abandon
};

// Called on the task's own thread, never on the UI thread: (code, task, value, 0, task). Returns 0 normally.
using EventRoutine = std::function<int(int code, Download *task, double value, int reserved, Download *sameTask)>;

// The description of one download task, in its traditional member order.
struct TaskParam
{
    int taskKind = 1; // 4096: a remote file into a local file
    std::string sourceUrl;
    std::string localPath; // GBK
    std::string ftpUser = "anonymous";
    std::string ftpPassword = "kavo@localhost";
    int connections = 1;
    int alternativeChunkBytes = 0; // 0: chunkBytes applies
    int connectTimeoutMs = 20000;
    int sendTimeoutMs = 20000;
    int receiveTimeoutMs = 20000;
    int retryDelayMs = 1000; // also the longest Stop() waits for the task
    int chunkBytes = 20480; // the most bytes asked for in one read
    int ftpSetting = 1024;
    int reserved14 = 0;
    EventRoutine eventRoutine;
    std::string reserved16;
    int reserved17 = 1;
    std::string fileTypes = ".exe|.rar|.zip|.gif|.jpg|.mp3|.rm";
    std::string reserved19;
    std::string reserved20;
    // The local file as the file system names it. When set, it is used instead of `localPath`: a path may hold
    // characters that GBK cannot, and such a text must never stand for another path.
    std::filesystem::path localFile;
    // When set, the file takes its final name only if its SHA-256 is this; otherwise the task fails and its
    // partial files go, since they hold bytes proven wrong.
    std::optional<common::Sha256Digest> expectedSha256;
    // The largest file the task accepts, in bytes; 0: no limit. A larger announced total, or a byte past it,
    // ends the task at once.
    std::int64_t maxBytes = 0;
    // The most bytes per second the task receives, across all its connections; 0: no limit.
    std::int64_t maxBytesPerSecond = 0;
    // A limit shared with other tasks, which may change while the task runs; the task keeps to its part of it
    // (and to maxBytesPerSecond as well, when both are set). Null: none.
    std::shared_ptr<SpeedLimit> sharedLimit;
    // The proxy of every request of the task. A manual address that proxyProblem() refuses ends the task at once.
    ProxySetting proxy;
    // For a direct link that expires: resolves the link once more (blocking, on the task's thread) when it is
    // refused with 403 or 410 in mid-download; gives the fresh link, or empty when there is none.
    std::function<std::string()> freshAddress;
    // Told on the task's thread each time a part that failed with an error is put off, with the wait before it is
    // asked for again: at least what a busy server named in Retry-After. Lets a test see the wait the task chose
    // without living through it. Null: nothing is told.
    std::function<void(std::chrono::milliseconds wait)> retryScheduled;
};

// The task the netdisk tool and the list refresh start: a remote file into `localFile` (its GBK form goes into
// localPath) over ten connections, 5 s to connect and send, 10 s of silence on receive, 1 s between retries,
// 10240-byte reads.
TaskParam toolTaskParam(
    const std::string &sourceUrl, const std::filesystem::path &localFile, EventRoutine eventRoutine);

} // namespace download
