#pragma once

#include "common/result.h"
#include "common/sha256.h"
#include "download/downloaderror.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

namespace download {

// The SHA-256 of a partial file, worked out while the file is being written: every stretch that joins the
// prefix written from offset 0 is read back once from the file (still in the page cache) and hashed on a
// thread of its own, so the transfer never waits for the hash and the end needs no second pass.
//
//   [#######=====....===..]   # = hashed, = = written, waiting for the gap before it
//
// The transfer's thread calls written() and reset(); the hashing thread reads the file with pread. The file
// descriptor must outlive the object.
class PrefixHasher
{
public:
    explicit PrefixHasher(int fd);
    ~PrefixHasher(); // stops the hashing thread, whatever it was doing
    PrefixHasher(const PrefixHasher &) = delete;
    PrefixHasher &operator=(const PrefixHasher &) = delete;

    // The bytes [offset, offset + size) are in the file (written, or found there on resume).
    void written(std::int64_t offset, std::int64_t size);
    // The file starts again from nothing (another version): everything hashed or noted so far goes.
    void reset();
    // Waits until the first `total` bytes are hashed and gives their digest. Fails when they were not all
    // written, or the file could not be read. Call once, after the last written().
    common::Result<common::Sha256Digest, DownloadError> finish(std::int64_t total);

private:
    void run();
    bool hashNext(std::unique_lock<std::mutex> &lock);

    const int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    common::Sha256 m_sha; // touched by the hashing thread, and by reset() while that thread is idle
    std::int64_t m_hashed = 0; // guarded by m_mutex: bytes from 0 that are hashed
    std::int64_t m_contiguous = 0; // guarded by m_mutex: bytes from 0 that are written
    std::map<std::int64_t, std::int64_t> m_ahead; // guarded by m_mutex: written stretches past a gap, begin -> end
    bool m_reading = false; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex
    int m_readError = 0; // guarded by m_mutex: errno of a failed read; hashing stops
    std::string m_buffer; // the piece being read; the reading side only
    std::thread m_thread; // not joinable when no thread could be started: finish() then hashes on its caller
};

} // namespace download
