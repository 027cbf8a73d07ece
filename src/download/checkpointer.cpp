#include "download/checkpointer.h"

#include <system_error>

namespace download {

Checkpointer::Checkpointer(const PartFiles &files, std::chrono::milliseconds spacing)
    : m_files(files)
    , m_spacing(spacing)
{
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error &) {
    }
}

Checkpointer::~Checkpointer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
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
