#include "cli/stretchwork.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace cli {

namespace {

// One file between reading and writing, its stretches in file order:
//
//   written ... | front: next to write | ... | back: last read |
//
// A slot holds its text once its worker is done with it.
struct Lane
{
    Lane(const StretchSource &from, std::size_t stretchBytes)
        : source(from)
        , reader(from.file, stretchBytes)
    {
    }

    const StretchSource &source;
    catalog::StretchReader reader; // used by the one worker that has the lane marked `reading`
    bool reading = false;
    bool ended = false; // every stretch has been read
    std::deque<std::optional<std::string>> slots;
    std::size_t first = 0; // number of the front slot
};

// A worker's place for the stretch it reads next.
struct Claim
{
    Lane *lane = nullptr;
    std::size_t number = 0;
};

// Who reads which file when, and the results on their way to the writer. Workers take the earliest file that
// nobody is reading and that has room; the writer takes each file's results in order, file after file. A file
// ahead of the writer has room while the output held for the files ahead stays under its limit; the writer's
// own file has room for two stretches per worker, so it always moves on, whatever is held ahead.
class Schedule
{
public:
    Schedule(std::span<const StretchSource> sources, const StretchLimits &limits)
        : m_slotsPerLane(2 * std::max(limits.workers, 1u))
        , m_heldLimit(limits.heldBytes)
        , m_waiting(limits.waiting)
    {
        for (const StretchSource &source : sources)
            m_lanes.emplace_back(source, limits.stretchBytes);
    }

    // Waits for a file to read from and takes a place for its next stretch. Nothing once every file has been
    // read or the writer has given up.
    std::optional<Claim> claim()
    {
        std::unique_lock lock(m_mutex);
        Lane *lane = nullptr;
        const auto found = [&] { return m_abandoned || (lane = available()) != nullptr || allEnded(); };
        if (m_waiting && !found()) {
            lock.unlock(); // whoever is told may wait on the workers' progress
            m_waiting();
            lock.lock();
        }
        m_work.wait(lock, found);
        if (m_abandoned || !lane)
            return std::nullopt;
        lane->reading = true;
        lane->slots.emplace_back();
        return Claim{lane, lane->first + lane->slots.size() - 1};
    }

    // An empty text to make a stretch's output in: one the writer is done with, when there is one. Reusing
    // them spares the system the mapping and zeroing of fresh memory for every stretch.
    std::string spareText()
    {
        const std::lock_guard lock(m_mutex);
        if (m_spares.empty())
            return {};
        std::string text = std::move(m_spares.back());
        m_spares.pop_back();
        text.clear();
        return text;
    }

    // For the writer: a text it has written, for reuse.
    void recycle(std::string text)
    {
        const std::lock_guard lock(m_mutex);
        if (m_spares.size() < m_slotsPerLane)
            m_spares.push_back(std::move(text));
    }

    // The claimed stretch has been read, or the file has ended and its place is given back.
    void read(const Claim &claim, bool gotStretch)
    {
        {
            const std::lock_guard lock(m_mutex);
            claim.lane->reading = false;
            if (!gotStretch) {
                claim.lane->ended = true;
                claim.lane->slots.pop_back();
            }
        }
        if (gotStretch) {
            m_work.notify_one(); // a worker may be waiting for this file
        } else {
            m_work.notify_all(); // waiting workers may have nothing left to do
            m_done.notify_one();
        }
    }

    void complete(const Claim &claim, std::string text)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_held += heldCost(text);
            claim.lane->slots[claim.number - claim.lane->first] = std::move(text);
        }
        m_done.notify_one();
    }

    // For the writer: the next text of file `index` in order once its worker is done; nothing after its last.
    std::optional<std::string> next(std::size_t index)
    {
        std::unique_lock lock(m_mutex);
        if (m_writing != index) {
            m_writing = index;
            m_work.notify_all(); // the writer's file always has room
        }
        Lane &lane = m_lanes[index];
        m_done.wait(
            lock, [&] { return (!lane.slots.empty() && lane.slots.front()) || (lane.ended && lane.slots.empty()); });
        if (lane.slots.empty())
            return std::nullopt;
        std::string text = std::move(*lane.slots.front());
        lane.slots.pop_front();
        ++lane.first;
        m_held -= heldCost(text);
        lock.unlock();
        m_work.notify_one();
        return text;
    }

    // The writer gives up (its output failed): no more places are given, so no more stretches are read.
    void abandon()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_abandoned = true;
        }
        m_work.notify_all();
    }

    std::size_t size() const { return m_lanes.size(); }
    // Only once the workers have stopped.
    const catalog::StretchReader &reader(std::size_t index) const { return m_lanes[index].reader; }

private:
    // A finished stretch's cost while it waits: its text and its slot.
    static std::size_t heldCost(const std::string &text) { return text.size() + sizeof(std::optional<std::string>); }

    Lane *available()
    {
        for (std::size_t i = m_writing; i < m_lanes.size(); ++i) {
            Lane &lane = m_lanes[i];
            if (lane.ended || lane.reading)
                continue;
            if (i == m_writing ? lane.slots.size() < m_slotsPerLane : m_held < m_heldLimit)
                return &lane;
        }
        return nullptr;
    }

    bool allEnded() const
    {
        return std::all_of(m_lanes.begin(), m_lanes.end(), [](const Lane &lane) { return lane.ended; });
    }

    const std::size_t m_slotsPerLane;
    const std::size_t m_heldLimit;
    const std::function<void()> m_waiting;
    std::mutex m_mutex;
    std::condition_variable m_work; // a file may have become available, or the work has ended
    std::condition_variable m_done; // a slot was completed, or a file ended
    std::deque<Lane> m_lanes; // their slots and marks guarded by m_mutex
    std::size_t m_writing = 0; // the file being written; guarded by m_mutex
    std::size_t m_held = 0; // cost of the finished stretches not yet written; guarded by m_mutex
    bool m_abandoned = false; // guarded by m_mutex
    std::vector<std::string> m_spares; // guarded by m_mutex
};

void workOn(Schedule &schedule)
{
    std::vector<char> buffer;
    while (const std::optional<Claim> claim = schedule.claim()) {
        const std::optional<std::string_view> stretch = claim->lane->reader.next(buffer);
        schedule.read(*claim, stretch.has_value());
        if (!stretch)
            continue;
        std::string text = schedule.spareText();
        claim->lane->source.work(*stretch, text);
        schedule.complete(*claim, std::move(text));
    }
}

} // namespace

std::vector<catalog::ReadFailure> writeStretches(
    std::span<const StretchSource> sources, Streams &streams, const StretchLimits &limits)
{
    Schedule schedule(sources, limits);
    {
        std::vector<std::jthread> team;
        for (unsigned i = 0; i < std::max(limits.workers, 1u); ++i)
            team.emplace_back([&schedule] { workOn(schedule); });
        for (std::size_t file = 0; file < schedule.size(); ++file) {
            while (std::optional<std::string> text = schedule.next(file)) {
                streams.write(*text);
                if (streams.writeError != 0) {
                    schedule.abandon();
                    return {}; // the team finishes the stretches it holds and stops
                }
                schedule.recycle(std::move(*text));
            }
        }
    }
    std::vector<catalog::ReadFailure> failures;
    for (std::size_t file = 0; file < schedule.size(); ++file) {
        if (schedule.reader(file).failure())
            failures.push_back(*schedule.reader(file).failure());
    }
    return failures;
}

common::Result<void, catalog::ReadFailure> writeStretches(const std::filesystem::path &file, const StretchWork &work,
    Streams &streams, unsigned workers, std::size_t stretchBytes)
{
    const StretchSource source{file, work};
    const std::vector<catalog::ReadFailure> failures
        = writeStretches(std::span(&source, 1), streams, StretchLimits{workers, stretchBytes});
    if (!failures.empty())
        return common::unexpected(failures.front());
    return {};
}

} // namespace cli
