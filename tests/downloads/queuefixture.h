#pragma once

#include "download/controlfile.h"
#include "downloads/queue.h"
#include "support/requestlog.h"
#include "support/servers.h"
#include "support/tempdir.h"
#include "support/waituntil.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <sstream>

// A share resolution that the test controls: each share address names a file and a direct link; a share it
// does not know resolves to nothing, as an unreachable page does. Counts its calls. Thread-safe.
class FakeShares
{
public:
    void set(const std::string &share, const std::string &name, const std::string &link)
    {
        const std::lock_guard lock(m_mutex);
        m_shares[share] = {name, link};
    }
    void forget(const std::string &share)
    {
        const std::lock_guard lock(m_mutex);
        m_shares.erase(share);
    }
    int calls() const
    {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }
    downloads::Resolver resolver()
    {
        return [this](const std::string &share) {
            const std::lock_guard lock(m_mutex);
            ++m_calls;
            download::ShareResolution resolution;
            const auto found = m_shares.find(share);
            if (found == m_shares.end())
                return resolution;
            resolution.facts.name = found->second.first;
            resolution.facts.size = "1M";
            resolution.supported = true;
            resolution.directLink = found->second.second;
            return resolution;
        };
    }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::pair<std::string, std::string>> m_shares;
    int m_calls = 0;
};

// What the ended handler saw, in order.
class EndedLog
{
public:
    std::function<void(const downloads::Item &)> handler()
    {
        return [this](const downloads::Item &item) {
            const std::lock_guard lock(m_mutex);
            m_items.push_back(item);
            m_signal.notify_all();
        };
    }
    // Waits until `count` downloads have ended.
    bool waitFor(std::size_t count, std::chrono::seconds limit = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_mutex);
        return m_signal.wait_for(lock, limit, [this, count] { return m_items.size() >= count; });
    }
    std::vector<downloads::Item> items() const
    {
        const std::lock_guard lock(m_mutex);
        return m_items;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_signal;
    std::vector<downloads::Item> m_items;
};

// How long the queue tests wait for a download to reach a state: far beyond what it takes, even under the
// sanitizers on a loaded machine.
constexpr std::chrono::seconds QueueDeadline{60};

inline std::optional<downloads::Item> itemOf(const downloads::Queue &queue, std::uint64_t id)
{
    for (const downloads::Item &item : queue.items()) {
        if (item.id == id)
            return item;
    }
    return std::nullopt;
}

inline bool hasState(const downloads::Queue &queue, std::uint64_t id, downloads::State state)
{
    const auto item = itemOf(queue, id);
    return item && item->state == state;
}

// A file of 1 MiB and a bit served by the scripted server (logging its requests) and downloaded into `out`, with
// the store in `data`.
class QueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bytes = randomBytes((1 << 20) + 77, 25);
        writeFile(dir.path() / "www" / "file.bin", bytes);
        std::filesystem::create_directories(out);
    }

    std::unique_ptr<downloads::Queue> makeQueue(downloads::QueueOptions options = {})
    {
        auto queue = std::make_unique<downloads::Queue>(store, shares.resolver(), options);
        queue->setEndedHandler(ended.handler());
        return queue;
    }

    // The lines the scripted server logged ("ROUTE FROM IF-RANGE"), then forgets them.
    std::vector<std::string> takeLog() { return takeLogLines(log); }

    static std::int64_t finishedBytes(const std::filesystem::path &file)
    {
        const auto record = download::parseControl(readFile(file.string() + ".part.ctl"));
        std::int64_t total = 0;
        for (const auto &range : record ? record->finished : std::vector<download::ByteRange>{})
            total += range.size();
        return total;
    }

    TempDir dir;
    std::string bytes;
    std::filesystem::path out = dir.path() / "out";
    std::filesystem::path store = dir.path() / "data" / "下载列表";
    std::filesystem::path log = dir.path() / "requests.log";
    FakeShares shares;
    EndedLog ended;
};
