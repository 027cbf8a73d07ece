#pragma once

#include "download/retryschedule.h"
#include "download/segments.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace download {

// How the unfinished bytes of one file are shared among connections, and when a part that failed is tried
// again. It does no I/O: the task asks it what to start and tells it what arrived and how each connection
// ended. The task's thread only.
//
//   [####......|####..|......]   # = finished; each part runs from its position to its end
class SegmentPlanner
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::int64_t Unbounded = std::numeric_limits<std::int64_t>::max();

    struct Part
    {
        std::int64_t position = 0; // the next byte this part needs
        std::int64_t end = Unbounded; // exclusive
        bool running = false;
        bool done = false;
        int failures = 0; // attempts in a row that brought no byte
        Clock::time_point retryAt{};
    };

    enum class Ending
    {
        Done, // the part is complete
        Retry, // the part waits for its next attempt
        GiveUp // the part failed `maxAttempts` times in a row without a byte: the task fails
    };

    // `minPart`: no part is cut smaller than this. `retryDelay`: where the wait after a failed attempt starts; it
    // grows with each failure in a row and is drawn with `random` (see RetrySchedule).
    SegmentPlanner(int connections, std::int64_t minPart, std::chrono::milliseconds retryDelay, int maxAttempts = 6,
        RetrySchedule::Random random = {});

    // Starts over with these unfinished ranges, in order (an end of Unbounded while the size is unknown). Until
    // share() only one part runs at a time.
    void reset(const std::vector<ByteRange> &unfinished);
    // The size is known: ends that were Unbounded become `total`.
    void learnTotal(std::int64_t total);
    // Ranges work: from now on up to `connections` parts run at once, and the unfinished bytes are cut so that
    // each connection has a part of nearly equal size (none smaller than minPart). With `pieceBytes`, they are
    // cut into consecutive pieces of that size instead, taken in order, so the finished prefix of the file
    // grows steadily rather than all at once at the end.
    void share(std::int64_t pieceBytes = 0);

    // The waiting part with the lowest position that may start now, marked running; nothing when every part
    // runs, is done or waits for its retry time, or as many parts run as may.
    std::optional<std::size_t> startNext(Clock::time_point now);
    // The earliest retry time of a part that waits for one; nothing while as many parts run as may.
    std::optional<Clock::time_point> nextRetry() const;

    std::size_t partCount() const { return m_parts.size(); }
    const Part &part(std::size_t index) const { return m_parts[index]; }
    // Bytes the part still takes.
    std::int64_t room(std::size_t index) const { return m_parts[index].end - m_parts[index].position; }
    void advance(std::size_t index, std::int64_t bytes) { m_parts[index].position += bytes; }

    // A connection of the part has ended. `startedAt`: the part's position when the connection began. `clean`:
    // the answer was accepted and ended normally. A part that reached its end is done, and a connection that
    // is free takes over the second half of the largest running part. A clean end short of the part's end
    // (a server that gives shorter ranges) is tried again at once; a failure after the retry schedule's delay,
    // and never before `floor` (the wait the server asked for).
    Ending ended(std::size_t index, std::int64_t startedAt, bool clean, Clock::time_point now,
        std::chrono::milliseconds floor = {});

    bool allDone() const;
    // The unfinished bytes as ranges in order, adjacent parts joined, and their complement in [0, total).
    std::vector<ByteRange> unfinished() const;
    std::vector<ByteRange> finished(std::int64_t total) const;

private:
    std::size_t limit() const;
    std::size_t runningCount() const;
    bool anyWaiting() const;
    void takeOverLargest();
    void cutIntoPieces(const std::vector<std::size_t> &open, std::int64_t pieceBytes);

    int m_connections;
    std::int64_t m_minPart;
    RetrySchedule m_retries;
    int m_maxAttempts;
    bool m_shared = false;
    std::vector<Part> m_parts;
};

} // namespace download
