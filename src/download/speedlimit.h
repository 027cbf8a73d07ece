#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace download {

// A speed limit that several download tasks share and that may change while they run: the running tasks that
// hold a Share split it evenly, and each follows its part within a fraction of a second. Thread-safe.
class SpeedLimit
{
public:
    explicit SpeedLimit(std::int64_t bytesPerSecond = 0)
        : m_bytesPerSecond(bytesPerSecond)
    {
    }
    SpeedLimit(const SpeedLimit &) = delete;
    SpeedLimit &operator=(const SpeedLimit &) = delete;

    // Bytes per second for all tasks together; 0 or less: no limit.
    void set(std::int64_t bytesPerSecond) { m_bytesPerSecond = bytesPerSecond; }
    std::int64_t bytesPerSecond() const { return m_bytesPerSecond.load(); }
    // The part of one task that holds a share (at least 1 byte per second); 0: no limit.
    std::int64_t share() const
    {
        const std::int64_t limit = m_bytesPerSecond.load();
        if (limit <= 0)
            return 0;
        return std::max<std::int64_t>(1, limit / std::max(1, m_holders.load()));
    }

    // Held by a running task for as long as it receives; `limit` may be null (the share then does nothing).
    class Share
    {
    public:
        explicit Share(SpeedLimit *limit)
            : m_limit(limit)
        {
            if (m_limit)
                ++m_limit->m_holders;
        }
        ~Share()
        {
            if (m_limit)
                --m_limit->m_holders;
        }
        Share(const Share &) = delete;
        Share &operator=(const Share &) = delete;

    private:
        SpeedLimit *m_limit;
    };

private:
    std::atomic<std::int64_t> m_bytesPerSecond;
    std::atomic<int> m_holders{0};
};

} // namespace download
