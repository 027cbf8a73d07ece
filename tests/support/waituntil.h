#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

// Checks `condition` every few milliseconds until it holds; false when `deadline` passed first. The deadline only
// keeps a broken test from hanging: it lies far beyond what the wait takes on any machine, and tests assert the
// condition, never the time it took.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds deadline = std::chrono::seconds(30))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// For a call that has no deadline of its own, made while the test has set the limits it must not wait for to an
// hour: when the guard still lives after `deadline`, the call is waiting for one of them, and the test program
// ends with `what`, since nothing after that call could run.
class HangGuard
{
public:
    explicit HangGuard(std::string what, std::chrono::milliseconds deadline = std::chrono::seconds(60))
        : m_watcher([this, what = std::move(what), deadline] {
            if (waitUntil([this] { return m_done.load(); }, deadline))
                return;
            std::fprintf(
                stderr, "%s is still waiting after %lld ms\n", what.c_str(), static_cast<long long>(deadline.count()));
            std::abort();
        })
    {
    }
    ~HangGuard()
    {
        m_done = true;
        m_watcher.join();
    }
    HangGuard(const HangGuard &) = delete;
    HangGuard &operator=(const HangGuard &) = delete;

private:
    std::atomic<bool> m_done{false};
    std::thread m_watcher;
};
