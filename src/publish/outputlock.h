#pragma once

#include "common/result.h"
#include "platform/files.h"
#include "publish/publisherror.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The folder a publish writes into, held by that publish alone: two publishes into one folder would each plan
// against the same earlier publish and mix their lists and manifest pages. POSIX; thread-safe.
namespace publish {

class OutputLock
{
public:
    // Makes `out` and the folders above it when they are missing, then locks `out` for this process's publish.
    // The error says why: `out` is not a folder (NotAFolder), cannot be made (FolderNotMade) or locked
    // (NotLocked), another publish holds it (Busy), or it was replaced while it was being locked (Moved). Does not
    // wait.
    static common::Result<OutputLock, PublishError> acquire(const std::filesystem::path &out);

    OutputLock(OutputLock &&other) noexcept;
    OutputLock &operator=(OutputLock &&) = delete;
    OutputLock(const OutputLock &) = delete;
    OutputLock &operator=(const OutputLock &) = delete;
    // Releases the lock. The folders that acquire() made and that are still empty go again, so a publish that
    // wrote nothing leaves no trace.
    ~OutputLock();

private:
    OutputLock(std::optional<platform::FileLock> lock, std::vector<std::filesystem::path> created);

    std::optional<platform::FileLock> m_lock;
    std::vector<std::filesystem::path> m_created; // outermost first
};

} // namespace publish
