#pragma once

#include "common/result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Every file-system call of the program: opening, reading, writing, replacing, renaming, removing and locking
// files. Failures are values that carry the system's reason. POSIX; every function is thread-safe for distinct
// files, and each UniqueFd is used by one thread at a time.
namespace platform {

struct FileError
{
    enum class Kind
    {
        Missing, // nothing has the name
        Exists, // something has the name, where it must not
        NotAFile, // a folder, a FIFO, a device, or a link where none is followed
        TooLarge, // larger than the limit the caller gave
        Busy, // another holder has the lock
        System // anything else: `code` says what
    };
    Kind kind = Kind::System;
    int code = 0; // the system's error number (ENOENT, EEXIST, EISDIR, EFBIG, EWOULDBLOCK, ...)

    // The reason in the program's words, UTF-8 Chinese ("磁盘已满", "不是普通文件" for a FIFO or a device); for
    // a reason it has no words of its own for, "系统错误（错误码 N）".
    std::string describe() const;
};

template <typename T> using FileResult = common::Result<T, FileError>;

// A file descriptor that closes itself.
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
    // Gives up the descriptor without closing it.
    int release();

private:
    int m_fd = -1;
};

enum class Links
{
    Follow,
    Refuse // a symbolic link at the name gives NotAFile
};

// Opens an existing regular file without waiting (a FIFO is refused, never waited on): for reading, or for
// reading and writing.
FileResult<UniqueFd> openForReading(const std::filesystem::path &file, Links links = Links::Follow);
FileResult<UniqueFd> openForWriting(const std::filesystem::path &file, Links links = Links::Follow);

// Creates `file`, which must not exist (Exists otherwise; a link there counts), open for reading and writing,
// with mode 0644 less the umask.
FileResult<UniqueFd> createFile(const std::filesystem::path &file);

struct ReadLimit
{
    std::size_t bytes = 0;
    bool cut = false; // a longer file gives its first `bytes` bytes instead of TooLarge
};

// The whole of a regular file, at most `limit.bytes` bytes. Never waits on a FIFO.
FileResult<std::string> readWhole(const std::filesystem::path &file, ReadLimit limit, Links links = Links::Follow);

// Reads from `offset` into `buffer` until it is full or the file ends (an interrupted call is made again); how
// many bytes it holds now.
FileResult<std::size_t> readAt(int fd, char *buffer, std::size_t size, std::int64_t offset);

// Writes every byte of `bytes` at `offset`, however many calls that takes; a write that takes no byte counts
// as ENOSPC.
FileResult<void> writeAt(int fd, std::string_view bytes, std::int64_t offset);

// Cuts or extends the open file to `length` bytes.
FileResult<void> resizeFile(int fd, std::int64_t length);

// Makes the open file's data reach the disk.
FileResult<void> syncData(int fd);

// Makes the renames in `folder` reach the disk, as well as it can.
void syncFolder(const std::filesystem::path &folder);

struct ReplaceOptions
{
    // The new file's permission bits; nothing: 0644 less the umask.
    std::optional<unsigned> mode;
    bool keepMode = false; // a file that is replaced keeps its permission bits
    bool keepLink = false; // a symbolic link at the name stays: the file it ends at is replaced, beside itself
    bool noReplace = false; // an existing file is never replaced: Exists
    bool syncFolder = true; // the rename itself reaches the disk
    // Where the new content is written first, created exclusively; empty: a new hidden name beside the file.
    std::filesystem::path temporary;
};

// Puts `bytes` in the place of `file` in one step: writes them to a new file beside it, makes them durable and
// renames that over `file`. A reader sees the old file or the new one whole, and a crash never leaves half a
// file. On failure `file` is as it was and the temporary file is gone.
FileResult<void> replaceFile(const std::filesystem::path &file, std::string_view bytes, const ReplaceOptions &options);

// A new hidden file ".NAME.XXXXXX" beside `target` holding `bytes`, with `mode` as its permission bits, on the
// disk. Its path.
FileResult<std::filesystem::path> writeTemporary(
    const std::filesystem::path &target, std::string_view bytes, unsigned mode);

enum class Overwrite
{
    Yes,
    No // a file at `to` stays, and the call fails with Exists
};

// Renames `from` to `to` in one step.
FileResult<void> renameFile(const std::filesystem::path &from, const std::filesystem::path &to, Overwrite overwrite);

// Removes the file or link `file`; Missing when there is none.
FileResult<void> removeFile(const std::filesystem::path &file);

// Makes the folder `folder`, whose parent must exist; Exists when something has the name already.
FileResult<void> makeFolder(const std::filesystem::path &folder);

// Makes `folder` and every missing folder above it; a folder that is there already is no failure.
FileResult<void> makeFolders(const std::filesystem::path &folder);

// Removes the folder `folder` when it is empty; a folder that holds anything stays (System, ENOTEMPTY).
FileResult<void> removeEmptyFolder(const std::filesystem::path &folder);

// Whether anything at all has the name: a file, a folder, a link (even one that leads nowhere).
bool nameTaken(const std::filesystem::path &path);

// Whether the existing `file` may not be written: no write bit at all (which even root respects here, as the
// user marked it so) or no write access for this user. False when there is no file.
bool isReadOnly(const std::filesystem::path &file);

// The file a chain of symbolic links ends at (it need not exist); NotAFile for a loop or an unreadable link.
FileResult<std::filesystem::path> resolveLinks(std::filesystem::path file);

// Takes the exclusive lock of the open file `fd` (an flock: it goes with the last descriptor of the open file),
// waiting for another holder or not (Busy).
enum class LockWait
{
    No,
    Yes
};
FileResult<void> lockFile(int fd, LockWait wait);

// An exclusive lock on a file or folder, held while the object lives.
class FileLock
{
public:
    static FileResult<FileLock> acquire(const std::filesystem::path &path, LockWait wait);
    const UniqueFd &fd() const { return m_fd; }

private:
    explicit FileLock(UniqueFd fd)
        : m_fd(std::move(fd))
    {
    }
    UniqueFd m_fd;
};

// What tells one file from another, and a file from itself after a change: a rename keeps all of it.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0; // last modification, nanoseconds since the epoch

    bool operator==(const FileIdentity &) const = default;
    bool sameFile(const FileIdentity &other) const { return device == other.device && inode == other.inode; }
};

// The identity of the file at `file` (symbolic links followed), or of an open file; nothing when it cannot be
// looked at.
std::optional<FileIdentity> fileIdentity(const std::filesystem::path &file);
std::optional<FileIdentity> fileIdentity(int fd);

} // namespace platform
