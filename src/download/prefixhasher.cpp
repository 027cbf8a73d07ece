#include "download/prefixhasher.h"

#include "common/gbk.h"
#include "download/partfiles.h"
#include "download/sidethread.h"

#include <cerrno>
#include <string>

namespace download {

namespace {

// Read back in pieces of this size: large enough to make each read cheap, small enough to stay in the cache.
constexpr std::int64_t ReadBytes = 1 << 20;

} // namespace

PrefixHasher::PrefixHasher(int fd)
    : m_fd(fd)
{
    m_thread = startSideThread([this] { run(); });
}

PrefixHasher::~PrefixHasher()
{
    quitSideThread(m_thread, m_mutex, m_quit, m_changed);
}

void PrefixHasher::written(std::int64_t offset, std::int64_t size)
{
    if (size <= 0)
        return;
    {
        const std::lock_guard lock(m_mutex);
        std::int64_t end = offset + size;
        if (offset > m_contiguous) {
            // Join the stretch with its neighbours, so the map stays small however the parts are cut.
            auto next = m_ahead.lower_bound(offset);
            if (next != m_ahead.begin() && std::prev(next)->second >= offset) {
                --next;
                offset = next->first;
                end = std::max(end, next->second);
                next = m_ahead.erase(next);
            }
            while (next != m_ahead.end() && next->first <= end) {
                end = std::max(end, next->second);
                next = m_ahead.erase(next);
            }
            m_ahead.emplace(offset, end);
            return;
        }
        m_contiguous = std::max(m_contiguous, end);
        while (!m_ahead.empty() && m_ahead.begin()->first <= m_contiguous) {
            m_contiguous = std::max(m_contiguous, m_ahead.begin()->second);
            m_ahead.erase(m_ahead.begin());
        }
    }
    m_changed.notify_all();
}

void PrefixHasher::reset()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_reading; });
    m_sha.finish();
    m_hashed = 0;
    m_contiguous = 0;
    m_ahead.clear();
    m_readError = 0;
}

common::Result<common::Sha256Digest, DownloadError> PrefixHasher::finish(std::int64_t total)
{
    std::unique_lock lock(m_mutex);
    if (m_contiguous < total)
        return common::unexpected(DownloadError{DownloadError::Kind::Checksum, false, 0,
            common::gbk("文件有 ") + std::to_string(total - m_contiguous) + common::gbk(" 字节没有写入")});
    m_contiguous = total; // bytes past the total are not the file's
    if (m_thread.joinable()) {
        m_changed.notify_all();
        m_changed.wait(lock, [this, total] { return (m_hashed >= total && !m_reading) || m_readError != 0; });
    } else {
        while (m_hashed < total && m_readError == 0 && hashNext(lock)) { }
    }
    if (m_readError != 0)
        return common::unexpected(diskError(m_readError));
    return m_sha.finish();
}

void PrefixHasher::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || (m_hashed < m_contiguous && m_readError == 0); });
        if (m_quit)
            return;
        hashNext(lock);
    }
}

// Hashes the next piece of the written prefix with `lock` released meanwhile. False when a read failed.
bool PrefixHasher::hashNext(std::unique_lock<std::mutex> &lock)
{
    const std::int64_t from = m_hashed;
    const std::int64_t size = std::min(ReadBytes, m_contiguous - m_hashed);
    m_reading = true;
    lock.unlock();
    m_buffer.resize(static_cast<std::size_t>(size));
    const auto got = platform::readAt(m_fd, m_buffer.data(), m_buffer.size(), from);
    int error = 0;
    if (!got.has_value())
        error = got.error().code;
    else if (got.value() < m_buffer.size())
        error = EIO; // a file shorter than what was written to it
    if (error == 0)
        m_sha.add(m_buffer.data(), m_buffer.size());
    lock.lock();
    m_reading = false;
    if (error == 0)
        m_hashed = from + size;
    else
        m_readError = error;
    m_changed.notify_all();
    return error == 0;
}

} // namespace download
