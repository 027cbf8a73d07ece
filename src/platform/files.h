#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Plain file descriptors for the code that reads and writes files itself (the settings file, downloads,
// published catalogs). POSIX.
namespace platform {

// A file descriptor that closes itself. Each object is used by one thread at a time.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Writes every byte of `bytes` at `offset`, however many calls that takes (an interrupted call is made again);
// false with errno set when the disk refuses (a write that takes no byte counts as ENOSPC). Thread-safe.
bool writeAt(int fd, std::string_view bytes, std::int64_t offset);

enum class ReadStatus
{
    Ok,
    Missing,
    NotAFile, // a folder, a FIFO, a device
    TooLarge, // `out` holds the first `limit` bytes
    Failed // errno tells why
};

// The whole of a regular file into `out`, at most `limit` bytes. Never waits: a FIFO at `file` is refused
// without waiting for a writer.
ReadStatus readWhole(const std::filesystem::path &file, std::string &out, std::size_t limit);

// Replaces `file` with `bytes` in one step: a temporary file beside it, made durable, renamed over it, and the
// folder synced. On failure `file` is untouched and errno tells why. Thread-safe for distinct files.
bool replaceFile(const std::filesystem::path &file, std::string_view bytes);

// Makes the renames in `folder` reach the disk, as well as it can.
void syncFolder(const std::filesystem::path &folder);

// Puts `bytes` in the place of `file` in one step: writes them to a new file beside it, makes them durable, renames
// that over `file` and syncs the folder. A reader sees the old file or the new one whole, and a crash never leaves
// half a file. False with errno set on failure; `file` is then as it was. Thread-safe.
bool replaceWhole(const std::filesystem::path &file, std::string_view bytes);

// What tells one file from another, and a file from itself after a change: a rename keeps all of it.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0; // last modification, nanoseconds since the epoch

    bool operator==(const FileIdentity &) const = default;
};

// The identity of the file at `file` (symbolic links followed); nothing when it cannot be looked at.
std::optional<FileIdentity> fileIdentity(const std::filesystem::path &file);

} // namespace platform
