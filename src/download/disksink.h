#pragma once

#include "common/result.h"
#include "common/sha256.h"
#include "download/checkpointer.h"
#include "download/controlfile.h"
#include "download/downloaderror.h"
#include "download/partfiles.h"
#include "download/prefixhasher.h"
#include "download/rangecheck.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace download {

// Where the bytes of one download go: the partial file, written in blocks per connection, with what is on disk
// kept as stretches with their checks, a hasher fed with them when the file has a checksum to meet, and the
// control record following the data on its own cadence. It never talks to the network. Used by the task's
// thread.
class DiskSink
{
public:
    // The bytes of one connection received and not yet written: they belong at `offset` and after.
    struct Block
    {
        std::string bytes;
        std::int64_t offset = 0;
    };

    DiskSink(PartFiles &files, bool hashed);

    // Takes over the stretches of `resumed` whose bytes on disk still give their check; a record that holds the
    // whole file keeps its last stretch back, so that an answer of this run vouches for the version. False when
    // none is believed.
    bool resume(const ControlRecord &resumed);
    // The ranges of [0, total) that no stretch holds.
    std::vector<ByteRange> holes(std::int64_t total) const;
    std::int64_t believedBytes() const;

    // A block sized for a connection's bytes.
    static Block newBlock();
    // Adds `bytes` received for `offset` (right after the block's last byte, or any offset in an empty block);
    // writes the block once it is large. The disk's refusal.
    common::Result<void, DownloadError> add(Block &block, std::int64_t offset, std::string_view bytes);
    // Writes the block and empties it.
    common::Result<void, DownloadError> flush(Block &block);

    // Cuts or extends the partial file to `length` bytes.
    common::Result<void, DownloadError> setLength(std::int64_t length);
    // Forgets what is on disk (another version, an empty file): no stretches, nothing hashed.
    void forget();
    // Forgets what is on disk, records that for `address`, and empties the partial file.
    common::Result<void, DownloadError> startOver(const std::string &address);

    // The record of what is on disk for `address` and `version` (whose total is known).
    ControlRecord record(const std::string &address, const FileVersion &version) const;
    // Whether the control record is due: enough bytes have arrived, or enough time has gone by with some.
    bool checkpointDue() const;
    // Hands `record` to the background writer and starts the cadence again.
    void checkpoint(ControlRecord record);
    // Writes `record` before returning.
    common::Result<void, DownloadError> checkpointNow(const ControlRecord &record);

    bool hashed() const { return m_hasher != nullptr; }
    // The SHA-256 of the first `total` bytes; only when hashed().
    common::Result<common::Sha256Digest, DownloadError> digest(std::int64_t total);

private:
    // Bytes written one after another from a stretch's beginning to `end`, with the check of them so far.
    struct Stretch
    {
        std::int64_t end = 0;
        RangeCheck check;
    };

    void noteWritten(std::int64_t offset, std::string_view bytes);

    PartFiles &m_files;
    Checkpointer m_checkpoints;
    std::unique_ptr<PrefixHasher> m_hasher; // with a checksum to meet
    std::map<std::int64_t, Stretch> m_stretches; // what is on disk, by where each stretch begins
    std::chrono::steady_clock::time_point m_lastCheckpoint = std::chrono::steady_clock::now();
    std::int64_t m_sinceCheckpoint = 0; // bytes added since the last record
};

} // namespace download
