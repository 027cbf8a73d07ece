#include "cli/stretchwork.h"

#include "catalog/loader.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace cli {

namespace {

enum SlotState : int
{
    Free,
    Working,
    Done
};

struct Slot
{
    std::vector<char> input;
    std::string_view stretch;
    RecordWriter output;
    std::atomic<int> state{Free};
};

// Every worker takes turns at reading the next stretch (one reader at a time, which numbers the stretches),
// works on it in a slot of its own, and then writes every finished stretch whose turn has come, its own or
// another's. Stretch n goes in slot n % slots, which is taken again only once written, so output leaves in
// order. Nobody sleeps waiting for somebody else: thread wake-ups cost more than the work between them.
class Team
{
public:
    Team(const std::filesystem::path &file, const StretchWork &work, Streams &streams, unsigned workers)
        : m_reader(file)
        , m_work(work)
        , m_streams(streams)
        , m_workers(workers)
        , m_slots(2 * workers + 2)
    {
    }

    void run()
    {
        std::vector<std::thread> helpers;
        for (unsigned i = 1; i < m_workers; ++i)
            helpers.emplace_back([this] { workOn(); });
        workOn();
        for (std::thread &helper : helpers)
            helper.join();
        writeFinished();
    }

private:
    void workOn()
    {
        while (Slot *slot = readNext())
            finish(*slot);
    }

    // The next stretch in its slot, or nullptr once the file has ended.
    Slot *readNext()
    {
        const std::lock_guard lock(m_readMutex);
        Slot &slot = m_slots[m_read % m_slots.size()];
        while (slot.state.load(std::memory_order_acquire) != Free) {
            writeFinished(); // the slot's stretch may be waiting for its turn
            std::this_thread::yield();
        }
        const std::optional<std::string_view> stretch = m_reader.next(slot.input);
        if (!stretch)
            return nullptr;
        slot.stretch = *stretch;
        slot.state.store(Working, std::memory_order_relaxed);
        ++m_read;
        return &slot;
    }

    void finish(Slot &slot)
    {
        m_work(slot.stretch, slot.output);
        slot.state.store(Done, std::memory_order_release);
        writeFinished();
    }

    // Writes the finished stretches whose turn has come, unless another thread is at it. That thread looks
    // again after letting go, so no finished stretch is left behind.
    void writeFinished()
    {
        for (;;) {
            {
                const std::unique_lock lock(m_writeMutex, std::try_to_lock);
                if (!lock)
                    return;
                for (;;) {
                    Slot &slot = m_slots[m_written.load(std::memory_order_relaxed) % m_slots.size()];
                    if (slot.state.load(std::memory_order_acquire) != Done)
                        break;
                    slot.output.sendTo(m_streams);
                    slot.output.clear();
                    m_written.fetch_add(1, std::memory_order_relaxed);
                    slot.state.store(Free, std::memory_order_release);
                }
            }
            const Slot &next = m_slots[m_written.load() % m_slots.size()];
            if (next.state.load() != Done)
                return;
        }
    }

    catalog::StretchReader m_reader; // guarded by m_readMutex
    const StretchWork &m_work;
    Streams &m_streams;
    unsigned m_workers;
    std::vector<Slot> m_slots;

    std::mutex m_readMutex;
    std::size_t m_read = 0; // guarded by m_readMutex

    std::mutex m_writeMutex; // held by the thread writing
    std::atomic<std::size_t> m_written{0}; // changed under m_writeMutex
};

} // namespace

void writeStretches(const std::filesystem::path &file, const StretchWork &work, Streams &streams)
{
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    Team(file, work, streams, workers).run();
}

} // namespace cli
