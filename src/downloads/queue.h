#pragma once

#include "common/sha256.h"
#include "download/proxy.h"
#include "download/sharepage.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The list of downloads: several shares at once, at most a few running, the rest waiting in order, kept in a
// store file across restarts.
namespace downloads {

enum class State
{
    Waiting,
    Running,
    Paused,
    Finished,
    Failed
};

struct Item
{
    std::uint64_t id = 0;
    std::string shareAddress; // the share page the download came from, as the catalog gives it (GBK)
    std::filesystem::path file; // the target file (native); empty until the share page named it
    std::string name; // shown name, GBK; the share address until the share page named the file
    std::int64_t size = 0; // bytes; 0 while unknown
    std::int64_t received = 0;
    double bytesPerSecond = 0; // while running; 0 otherwise
    State state = State::Waiting;
    std::string reason; // why it failed, GBK, in the program's words; empty otherwise
    std::filesystem::path folder; // where the file goes (native)
    std::optional<common::Sha256Digest> sha256; // the catalog's checksum of the file, when it gives one
    std::string directLink; // the last direct link the share page gave; empty until then

    bool operator==(const Item &) const = default;
};

struct QueueOptions
{
    int concurrency = 3; // at most this many run at once; less than 1 counts as 1
    std::int64_t maxBytesPerSecond = 0; // shared by all running downloads; 0: no limit
    download::ProxySetting proxy;

    bool operator==(const QueueOptions &) const = default;
};

// Share address -> facts and direct link: resolveShare() over FetchUrl in the program (with the proxy), a fake in
// tests. Called on a task's thread.
using Resolver = std::function<download::ShareResolution(const std::string &shareAddress)>;

// Thread-safe. Each running download has a thread of its own; the handler runs there.
class Queue
{
public:
    // store: the file in the user's data folder that keeps the list (replaced atomically on every change).
    // The store is read only by restore(). The destructor waits for a resolution under way: the program's
    // resolver ends its fetches on the quit (shareResolver() with a stop token).
    Queue(std::filesystem::path store, Resolver resolve, QueueOptions options);
    // Stops running tasks, keeping their partial data and the list (they stay "running" in the store, so that
    // the next restore() continues them).
    ~Queue();
    Queue(const Queue &) = delete;
    Queue &operator=(const Queue &) = delete;

    // Appends a waiting download of the share at `shareAddress` into `folder`; it starts when a place is free.
    // `sha256`: the catalog's checksum; the file takes its name only when it matches. The new id.
    std::uint64_t add(const std::string &shareAddress, const std::filesystem::path &folder,
        std::optional<common::Sha256Digest> sha256 = {});
    // Running or waiting -> paused (a running task stops; its partial data and control record stay).
    void pause(std::uint64_t id);
    // Paused -> waiting; it continues from its control record when a place is free.
    void resume(std::uint64_t id);
    // Failed -> waiting, from what was kept; a failed checksum starts over.
    void retry(std::uint64_t id);
    // Takes the download off the list, stopping it first. deleteFile: the file (finished) or its partial data
    // (".part" and ".part.ctl") go too.
    void remove(std::uint64_t id, bool deleteFile);
    // New limits apply at once: more places start waiting downloads, fewer let the running ones finish; the
    // speed limit changes under the running ones; the proxy serves what starts from now on.
    void setOptions(const QueueOptions &options);
    QueueOptions options() const;
    // A snapshot, in list order.
    std::vector<Item> items() const;
    // Reads the store and starts what was running or waiting (once; call it at start, before add()). A store
    // that does not parse keeps the lines that do, and the file as it was is kept beside it as
    // "<store>.damaged"; a finished download whose file is gone shows as failed with the reason. Never throws.
    void restore();
    // Called on a task's thread when a download finishes or fails (not when it is paused or removed).
    void setEndedHandler(std::function<void(const Item &)> handler);
    // Why the store could not be read or written last time, GBK; empty when it could.
    std::string storeProblem() const;

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

// The percentage of the item that has arrived, as the progress bars show it (download::progressView), at most
// 100: 100 when finished, 0 while the size is unknown. The list window and kavo-cli both show this. Pure.
int percentOf(const Item &item);

// The file in the user's data folder that keeps the list.
std::filesystem::path storeFile(const std::filesystem::path &dataFolder);

struct StoreContents
{
    std::vector<Item> items; // every line that parsed, in list order
    std::string problem; // GBK: why the file or some lines could not be read; empty when all could
};

// Reads a store without running anything (kavo-cli downloads). A missing store is an empty list. Never throws.
StoreContents readStore(const std::filesystem::path &store);

} // namespace downloads
