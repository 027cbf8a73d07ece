#include "cli/stretchwork.h"

#include "catalog/loader.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace cli {

namespace {

struct Job
{
    const catalog::Category *category = nullptr;
    std::vector<char> input;
    std::string_view stretch;
    RecordWriter output;
    bool done = true; // worked on, or never handed out
};

// Jobs are handed out by sequence number: job n lives in slot n % slots, and slot n % slots is only filled
// again once job n - slots is done and written, so output leaves in sequence order.
class Pipeline
{
public:
    Pipeline(const StretchWork &work, Streams &streams)
        : m_work(work)
        , m_streams(streams)
    {
        const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
        m_jobs = std::vector<Job>(2 * workers + 2);
        for (unsigned i = 0; i < workers; ++i)
            m_workers.emplace_back([this] { workOn(); });
    }

    ~Pipeline()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
        for (std::thread &worker : m_workers)
            worker.join();
    }

    void read(const std::filesystem::path &file, const catalog::Category &category)
    {
        catalog::StretchReader reader(file);
        for (;;) {
            Job &job = m_jobs[m_handedOut % m_jobs.size()];
            writeOut(job);
            const std::optional<std::string_view> stretch = reader.next(job.input);
            if (!stretch)
                return;
            job.category = &category;
            job.stretch = *stretch;
            {
                const std::lock_guard lock(m_mutex);
                job.done = false;
                ++m_handedOut;
            }
            m_changed.notify_all();
        }
    }

    // Writes what is still out, in order; returns whether anything was written at all.
    bool finish()
    {
        const std::size_t slots = m_jobs.size();
        for (std::size_t n = m_handedOut - std::min(m_handedOut, slots); n < m_handedOut; ++n)
            writeOut(m_jobs[n % slots]);
        return m_wroteAny;
    }

private:
    void writeOut(Job &job)
    {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&job] { return job.done; });
        }
        if (!job.output.empty()) {
            job.output.sendTo(m_streams);
            m_wroteAny = true;
        }
        job.output.clear();
    }

    void workOn()
    {
        for (;;) {
            Job *job = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_taken < m_handedOut || m_closing; });
                if (m_taken == m_handedOut)
                    return;
                job = &m_jobs[m_taken++ % m_jobs.size()];
            }
            m_work(*job->category, job->stretch, job->output);
            {
                const std::lock_guard lock(m_mutex);
                job->done = true;
            }
            m_changed.notify_all();
        }
    }

    const StretchWork &m_work;
    Streams &m_streams;
    std::vector<Job> m_jobs;
    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_handedOut = 0; // guarded; written by the reading thread only
    std::size_t m_taken = 0; // guarded
    bool m_closing = false; // guarded
    bool m_wroteAny = false;
};

} // namespace

bool writeStretches(const std::filesystem::path &home, const std::vector<const catalog::Category *> &categories,
    const StretchWork &work, Streams &streams)
{
    Pipeline pipeline(work, streams);
    for (const catalog::Category *category : categories)
        pipeline.read(catalog::categoryFile(home, *category), *category);
    return pipeline.finish();
}

} // namespace cli
