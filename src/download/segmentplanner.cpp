#include "download/segmentplanner.h"

#include <algorithm>

namespace download {

SegmentPlanner::SegmentPlanner(int connections, std::int64_t minPart, std::chrono::milliseconds retryDelay,
    int maxAttempts, RetrySchedule::Random random)
    : m_connections(std::max(1, connections))
    , m_minPart(std::max<std::int64_t>(1, minPart))
    , m_retries(retryDelay, RetrySchedule::DefaultCap, std::move(random))
    , m_maxAttempts(std::max(1, maxAttempts))
{
}

void SegmentPlanner::reset(const std::vector<ByteRange> &unfinished)
{
    m_shared = false;
    m_parts.clear();
    for (const ByteRange &range : unfinished)
        m_parts.push_back({range.begin, range.end});
}

void SegmentPlanner::learnTotal(std::int64_t total)
{
    for (Part &part : m_parts) {
        if (part.end == Unbounded)
            part.end = std::max(part.position, total);
    }
}

void SegmentPlanner::share(std::int64_t pieceBytes)
{
    m_shared = true;
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        if (!m_parts[i].done && m_parts[i].end != Unbounded)
            open.push_back(i);
    }
    if (pieceBytes > 0) {
        cutIntoPieces(open, pieceBytes);
        return;
    }
    // Each spare connection goes where it leaves the largest pieces.
    std::vector<std::int64_t> counts(open.size(), 1);
    for (std::size_t spare = m_connections > static_cast<int>(open.size()) ? m_connections - open.size() : 0; spare > 0;
         --spare) {
        std::size_t best = open.size();
        std::int64_t bestPiece = 0;
        for (std::size_t k = 0; k < open.size(); ++k) {
            const std::int64_t piece = room(open[k]) / (counts[k] + 1);
            if (piece >= m_minPart && piece > bestPiece) {
                best = k;
                bestPiece = piece;
            }
        }
        if (best == open.size())
            break;
        ++counts[best];
    }
    for (std::size_t k = 0; k < open.size(); ++k) {
        const Part base = m_parts[open[k]];
        const std::vector<ByteRange> pieces = splitEvenly(base.end - base.position, static_cast<int>(counts[k]), 1);
        m_parts[open[k]].end = base.position + pieces.front().end;
        for (std::size_t j = 1; j < pieces.size(); ++j)
            m_parts.push_back({base.position + pieces[j].begin, base.position + pieces[j].end});
    }
}

void SegmentPlanner::cutIntoPieces(const std::vector<std::size_t> &open, std::int64_t pieceBytes)
{
    for (const std::size_t index : open) {
        const std::int64_t end = m_parts[index].end;
        const std::int64_t first = std::min(end, m_parts[index].position + pieceBytes);
        m_parts[index].end = first;
        for (std::int64_t at = first; at < end; at += pieceBytes)
            m_parts.push_back({at, std::min(end, at + pieceBytes)});
    }
}

std::size_t SegmentPlanner::limit() const
{
    return m_shared ? static_cast<std::size_t>(m_connections) : 1;
}

std::size_t SegmentPlanner::runningCount() const
{
    return static_cast<std::size_t>(
        std::count_if(m_parts.begin(), m_parts.end(), [](const Part &p) { return p.running; }));
}

bool SegmentPlanner::anyWaiting() const
{
    return std::any_of(m_parts.begin(), m_parts.end(), [](const Part &p) { return !p.running && !p.done; });
}

std::optional<std::size_t> SegmentPlanner::startNext(Clock::time_point now)
{
    if (runningCount() >= limit())
        return std::nullopt;
    std::optional<std::size_t> lowest;
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        const Part &part = m_parts[i];
        if (!part.running && !part.done && now >= part.retryAt
            && (!lowest || part.position < m_parts[*lowest].position))
            lowest = i;
    }
    if (lowest)
        m_parts[*lowest].running = true;
    return lowest;
}

std::optional<SegmentPlanner::Clock::time_point> SegmentPlanner::nextRetry() const
{
    if (runningCount() >= limit())
        return std::nullopt;
    std::optional<Clock::time_point> earliest;
    for (const Part &part : m_parts) {
        if (!part.running && !part.done && (!earliest || part.retryAt < *earliest))
            earliest = part.retryAt;
    }
    return earliest;
}

SegmentPlanner::Ending SegmentPlanner::ended(
    std::size_t index, std::int64_t startedAt, bool clean, Clock::time_point now, std::chrono::milliseconds floor)
{
    Part &part = m_parts[index];
    part.running = false;
    if (part.position >= part.end || (clean && part.end == Unbounded)) {
        part.done = true;
        part.end = part.position;
        if (m_shared && !anyWaiting())
            takeOverLargest();
        return Ending::Done;
    }
    const bool progressed = part.position > startedAt;
    if (clean && progressed) {
        part.failures = 0;
        part.retryAt = now;
        return Ending::Retry;
    }
    part.failures = progressed ? 1 : part.failures + 1;
    if (part.failures >= m_maxAttempts)
        return Ending::GiveUp;
    part.retryAt = now + m_retries.delay(part.failures, floor);
    return Ending::Retry;
}

void SegmentPlanner::takeOverLargest()
{
    std::vector<ByteRange> running;
    std::vector<std::size_t> owners;
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        if (m_parts[i].running) {
            running.push_back({m_parts[i].position, m_parts[i].end});
            owners.push_back(i);
        }
    }
    const auto half = secondHalfOfLargest(running, m_minPart);
    if (!half)
        return;
    for (std::size_t k = 0; k < running.size(); ++k) {
        if (running[k].end == half->end && running[k].begin < half->begin) {
            m_parts[owners[k]].end = half->begin;
            break;
        }
    }
    m_parts.push_back({half->begin, half->end});
}

bool SegmentPlanner::allDone() const
{
    return std::all_of(m_parts.begin(), m_parts.end(), [](const Part &p) { return p.done; });
}

std::vector<ByteRange> SegmentPlanner::unfinished() const
{
    std::vector<ByteRange> ranges;
    for (const Part &part : m_parts) {
        if (!part.done && part.position < part.end)
            ranges.push_back({part.position, part.end});
    }
    std::sort(ranges.begin(), ranges.end(), [](const ByteRange &a, const ByteRange &b) { return a.begin < b.begin; });
    std::vector<ByteRange> merged;
    for (const ByteRange &range : ranges) {
        if (!merged.empty() && merged.back().end == range.begin)
            merged.back().end = range.end;
        else
            merged.push_back(range);
    }
    return merged;
}

std::vector<ByteRange> SegmentPlanner::finished(std::int64_t total) const
{
    std::vector<ByteRange> ranges;
    std::int64_t at = 0;
    for (const ByteRange &hole : unfinished()) {
        if (hole.begin > at)
            ranges.push_back({at, std::min(hole.begin, total)});
        at = std::max(at, hole.end);
    }
    if (at < total)
        ranges.push_back({at, total});
    return ranges;
}

} // namespace download
