#include "download/disksink.h"

#include "platform/files.h"

#include <curl/curl.h>
#include <iterator>

namespace download {

namespace {

using Clock = std::chrono::steady_clock;

// Received bytes collect per connection and reach the disk in blocks of this size: one write per block
// instead of one per read keeps the task's CPU time low on throttled sources.
constexpr std::size_t WriteBlockBytes = 256 * 1024;
// The control record follows the data at least this often.
constexpr auto CheckpointInterval = std::chrono::seconds(1);
constexpr std::int64_t CheckpointBytes = 4 << 20;

common::Unexpected<DownloadError> refused(const platform::FileError &error)
{
    return common::unexpected(diskError(error.code));
}

} // namespace

DiskSink::DiskSink(PartFiles &files, bool hashed)
    : m_files(files)
    , m_checkpoints(files)
{
    if (hashed)
        m_hasher = std::make_unique<PrefixHasher>(files.fd.get());
}

bool DiskSink::resume(const ControlRecord &resumed)
{
    for (std::size_t i = 0; i < resumed.finished.size(); ++i) {
        const ByteRange &range = resumed.finished[i];
        if (auto check = checkOnDisk(m_files.fd.get(), range, resumed.checks[i]))
            m_stretches.emplace(range.begin, Stretch{range.end, std::move(*check)});
    }
    if (!m_stretches.empty() && believedBytes() == resumed.version.total)
        m_stretches.erase(std::prev(m_stretches.end()));
    if (m_hasher) {
        for (const auto &[begin, stretch] : m_stretches)
            m_hasher->written(begin, stretch.end - begin);
    }
    return !m_stretches.empty();
}

std::vector<ByteRange> DiskSink::holes(std::int64_t total) const
{
    std::vector<ByteRange> holes;
    std::int64_t at = 0;
    for (const auto &[begin, stretch] : m_stretches) {
        if (begin > at)
            holes.push_back({at, begin});
        at = stretch.end;
    }
    if (at < total)
        holes.push_back({at, total});
    return holes;
}

std::int64_t DiskSink::believedBytes() const
{
    std::int64_t bytes = 0;
    for (const auto &[begin, stretch] : m_stretches)
        bytes += stretch.end - begin;
    return bytes;
}

DiskSink::Block DiskSink::newBlock()
{
    Block block;
    block.bytes.reserve(WriteBlockBytes + static_cast<std::size_t>(CURL_MAX_READ_SIZE));
    return block;
}

common::Result<void, DownloadError> DiskSink::add(Block &block, std::int64_t offset, std::string_view bytes)
{
    if (bytes.empty())
        return {};
    if (block.bytes.empty())
        block.offset = offset;
    block.bytes.append(bytes);
    m_sinceCheckpoint += static_cast<std::int64_t>(bytes.size());
    if (block.bytes.size() >= WriteBlockBytes)
        return flush(block);
    return {};
}

common::Result<void, DownloadError> DiskSink::flush(Block &block)
{
    const auto written = platform::writeAt(m_files.fd.get(), block.bytes, block.offset);
    if (written.has_value()) {
        noteWritten(block.offset, block.bytes);
        if (m_hasher)
            m_hasher->written(block.offset, static_cast<std::int64_t>(block.bytes.size()));
    }
    block.bytes.clear();
    if (!written.has_value())
        return refused(written.error());
    return {};
}

// Notes `bytes` written at `offset`: they extend the stretch that ends there, or start one. A write into a
// recorded stretch (which the planner never asks for) drops that stretch from the record.
void DiskSink::noteWritten(std::int64_t offset, std::string_view bytes)
{
    if (bytes.empty())
        return;
    auto at = m_stretches.upper_bound(offset);
    if (at != m_stretches.begin()) {
        auto before = std::prev(at);
        if (before->second.end == offset) {
            before->second.check.add(bytes);
            before->second.end += static_cast<std::int64_t>(bytes.size());
            return;
        }
        if (before->second.end > offset)
            m_stretches.erase(before);
    }
    const std::int64_t end = offset + static_cast<std::int64_t>(bytes.size());
    while (at != m_stretches.end() && at->first < end)
        at = m_stretches.erase(at);
    Stretch stretch{end, RangeCheck()};
    stretch.check.add(bytes);
    m_stretches.emplace(offset, std::move(stretch));
}

common::Result<void, DownloadError> DiskSink::setLength(std::int64_t length)
{
    if (const auto sized = platform::resizeFile(m_files.fd.get(), length); !sized.has_value())
        return refused(sized.error());
    return {};
}

void DiskSink::forget()
{
    m_stretches.clear();
    if (m_hasher)
        m_hasher->reset();
}

common::Result<void, DownloadError> DiskSink::startOver(const std::string &address)
{
    m_stretches.clear();
    if (const auto written = m_checkpoints.writeNow({address, {}, {}, {}}); !written.has_value())
        return written;
    if (m_hasher)
        m_hasher->reset();
    return setLength(0);
}

ControlRecord DiskSink::record(const std::string &address, const FileVersion &version) const
{
    ControlRecord record{address, version, {}, {}};
    for (const auto &[begin, stretch] : m_stretches) {
        if (stretch.end > version.total)
            break;
        record.finished.push_back({begin, stretch.end});
        record.checks.push_back(stretch.check.value());
    }
    return record;
}

bool DiskSink::checkpointDue() const
{
    return m_sinceCheckpoint >= CheckpointBytes
        || (m_sinceCheckpoint > 0 && Clock::now() - m_lastCheckpoint >= CheckpointInterval);
}

void DiskSink::checkpoint(ControlRecord record)
{
    m_checkpoints.submit(std::move(record));
    m_lastCheckpoint = Clock::now();
    m_sinceCheckpoint = 0;
}

common::Result<void, DownloadError> DiskSink::checkpointNow(const ControlRecord &record)
{
    return m_checkpoints.writeNow(record);
}

common::Result<common::Sha256Digest, DownloadError> DiskSink::digest(std::int64_t total)
{
    return m_hasher->finish(total);
}

} // namespace download
