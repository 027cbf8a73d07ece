#pragma once

#include "common/result.h"
#include "platform/files.h"

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
    // The error (UTF-8, without the path) says why: `out` is not a folder, cannot be made, or another publish
    // holds it. Does not wait.
    static common::Result<OutputLock, std::string> acquire(const std::filesystem::path &out);

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
