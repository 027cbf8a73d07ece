#include "download/checkpointer.h"

#include "download/sidethread.h"

namespace download {

Checkpointer::Checkpointer(const PartFiles &files, std::chrono::milliseconds spacing)
    : m_files(files)
    , m_spacing(spacing)
{
    m_thread = startSideThread([this] { run(); });
}

Checkpointer::~Checkpointer()
{
    quitSideThread(m_thread, m_mutex, m_quit, m_changed);
}

void Checkpointer::submit(ControlRecord record)
{
    if (!m_thread.joinable()) {
        (void)write(record);
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_next = std::move(record);
    }
    m_changed.notify_all();
}

common::Result<void, DownloadError> Checkpointer::writeNow(const ControlRecord &record)
{
    std::unique_lock lock(m_mutex);
    m_next.reset();
    m_changed.wait(lock, [this] { return !m_writing; });
    return write(record);
}

common::Result<void, DownloadError> Checkpointer::write(const ControlRecord &record)
{
    if (const auto synced = platform::syncData(m_files.fd.get()); !synced.has_value())
        return common::unexpected(diskError(synced.error().code));
    return writeControl(m_files, record);
}

void Checkpointer::run()
{
    std::unique_lock lock(m_mutex);
    auto nextWrite = std::chrono::steady_clock::now() + m_spacing;
    for (;;) {
        m_changed.wait_until(lock, nextWrite, [this] { return m_quit; });
        m_changed.wait(lock, [this] { return m_quit || m_next.has_value(); });
        if (m_quit)
            return;
        const ControlRecord record = std::move(*m_next);
        m_next.reset();
        m_writing = true;
        lock.unlock();
        // A record that cannot be written leaves the previous one, which is still true.
        (void)write(record);
        lock.lock();
        nextWrite = std::chrono::steady_clock::now() + m_spacing;
        m_writing = false;
        m_changed.notify_all();
    }
}

} // namespace download
