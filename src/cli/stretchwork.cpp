#include "cli/stretchwork.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace cli {

namespace {

// The stretches between reading and writing, in file order:
//
//   written ... | front: next to write | ... | back: last read |
//
// A slot holds its text once its worker is done with it. Workers add slots at the back while there is room;
// the writer takes them from the front once done.
class OrderedResults
{
public:
    explicit OrderedResults(std::size_t capacity)
        : m_capacity(capacity)
    {
    }

    // Waits for room and takes a place for the next stretch; its number in file order. Nothing once the writer
    // has given up.
    std::optional<std::size_t> reserve()
    {
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [this] { return m_abandoned || m_slots.size() < m_capacity; });
        if (m_abandoned)
            return std::nullopt;
        m_slots.emplace_back();
        return m_first + m_slots.size() - 1;
    }

    // The writer gives up (its output failed): no more places are given, so no more stretches are read.
    void abandon()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_abandoned = true;
        }
        m_room.notify_all();
    }

    // The file has ended: the place taken last is for a stretch that never came.
    void end()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_slots.pop_back();
            m_ended = true;
        }
        m_done.notify_one();
    }

    void complete(std::size_t number, std::string text)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_slots[number - m_first] = std::move(text);
        }
        m_done.notify_one();
    }

    // The next text in file order once its worker is done; nothing after the last.
    std::optional<std::string> next()
    {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return (!m_slots.empty() && m_slots.front()) || (m_ended && m_slots.empty()); });
        if (m_slots.empty())
            return std::nullopt;
        std::string text = std::move(*m_slots.front());
        m_slots.pop_front();
        ++m_first;
        lock.unlock();
        m_room.notify_one();
        return text;
    }

private:
    const std::size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_room; // a slot was written
    std::condition_variable m_done; // a slot was completed, or the reading ended
    std::deque<std::optional<std::string>> m_slots; // guarded by m_mutex
    std::size_t m_first = 0; // number of the front slot; guarded by m_mutex
    bool m_ended = false; // guarded by m_mutex
    bool m_abandoned = false; // guarded by m_mutex
};

} // namespace

common::Result<void, catalog::ReadFailure> writeStretches(const std::filesystem::path &file, const StretchWork &work,
    Streams &streams, unsigned workers, std::size_t stretchBytes)
{
    catalog::StretchReader reader(file, stretchBytes);
    std::mutex readMutex; // one worker reads at a time, which keeps the stretches' numbers in file order
    OrderedResults results(2 * workers);
    const auto workOn = [&] {
        std::vector<char> buffer;
        for (;;) {
            std::unique_lock reading(readMutex);
            const std::optional<std::size_t> number = results.reserve();
            if (!number)
                return;
            const std::optional<std::string_view> stretch = reader.next(buffer);
            if (!stretch) {
                results.end();
                return;
            }
            reading.unlock();
            std::string text;
            work(*stretch, text);
            results.complete(*number, std::move(text));
        }
    };
    {
        std::vector<std::jthread> team;
        for (unsigned i = 0; i < std::max(workers, 1u); ++i)
            team.emplace_back(workOn);
        while (const std::optional<std::string> text = results.next()) {
            streams.write(*text);
            if (streams.writeError != 0) {
                results.abandon();
                return {}; // the team finishes the stretches it holds and stops
            }
        }
    }
    if (reader.failure())
        return common::unexpected(*reader.failure());
    return {};
}

} // namespace cli
