#pragma once

#include "download/download.h"
#include "support/requestlog.h"
#include "support/servers.h"
#include "support/tempdir.h"
#include "support/waituntil.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

// What a task's event routine saw.
struct Events
{
    std::atomic<int> ended{0};
    std::atomic<int> nameTaken{0};
    std::atomic<int> totals{0};
    std::atomic<double> total{0};
    std::atomic<double> receivedAtEnd{-1};
    std::mutex mutex;
    std::condition_variable endedSignal;

    int routine(int code, double value)
    {
        if (code == download::EventTotalSize) {
            total = value;
            ++totals;
        }
        if (code == download::EventNameTaken)
            ++nameTaken;
        if (code == download::EventEnded) {
            receivedAtEnd = value;
            const std::lock_guard lock(mutex);
            ++ended;
            endedSignal.notify_all();
        }
        return 0;
    }

    // Waits until event 4 has come `count` times in all.
    bool waitForEnd(int count = 1, std::chrono::seconds limit = std::chrono::seconds(30))
    {
        std::unique_lock lock(mutex);
        return endedSignal.wait_for(lock, limit, [this, count] { return ended.load() >= count; });
    }
};

// A 3 MiB file served from `dir/www/file.bin`, downloaded into `dir/out`.
class TaskTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        data = randomBytes(3 * 1024 * 1024 + 77, 11);
        writeFile(dir.path() / "www" / "file.bin", data);
        target = dir.path() / "out";
        std::filesystem::create_directories(target);
    }

    download::TaskParam param(const std::string &url, const std::filesystem::path &name, int connections)
    {
        download::TaskParam p;
        p.taskKind = 4096;
        p.sourceUrl = url;
        p.localFile = target / name;
        p.localPath = (target / name).string();
        p.connections = connections;
        p.connectTimeoutMs = 5000;
        p.receiveTimeoutMs = 2000;
        p.retryDelayMs = 200;
        p.chunkBytes = 10240;
        p.eventRoutine = [this](int code, download::Download *, double value, int, download::Download *) {
            return events.routine(code, value);
        };
        return p;
    }

    // The same with 20 ms between retries, for servers that fail on purpose.
    download::TaskParam quickParam(const std::string &url, const std::filesystem::path &name, int connections)
    {
        download::TaskParam p = param(url, name, connections);
        p.retryDelayMs = 20;
        return p;
    }

    // Starts the task and waits for its event 4; false when it did not start or end in time.
    bool runToEnd(download::Download &task, const download::TaskParam &p)
    {
        const int before = events.ended.load();
        return task.Start(p) && events.waitForEnd(before + 1);
    }

    std::vector<std::string> filesInTarget() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(target))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The lines the scripted server logged ("ROUTE FROM IF-RANGE"), then forgets them.
    std::vector<std::string> takeLog() { return takeLogLines(log); }

    TempDir dir;
    std::string data;
    std::filesystem::path target;
    std::filesystem::path log = dir.path() / "requests.log";
    Events events;
};
