#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

FileError errorFrom(int code)
{
    switch (code) {
    case ENOENT:
        return {FileError::Kind::Missing, code};
    case EEXIST:
        return {FileError::Kind::Exists, code};
    case EWOULDBLOCK:
        return {FileError::Kind::Busy, code};
    case EISDIR:
    case ELOOP: // a link where none is followed
        return {FileError::Kind::NotAFile, code};
    default:
        return {FileError::Kind::System, code};
    }
}

common::Unexpected<FileError> lastError()
{
    return common::unexpected(errorFrom(errno));
}

common::Unexpected<FileError> failed(FileError::Kind kind, int code)
{
    return common::unexpected(FileError{kind, code});
}

FileResult<UniqueFd> openRegular(const std::filesystem::path &file, int access, Links links)
{
    // Without O_NONBLOCK the open of a FIFO would wait for a writer that may never come.
    const int flags = access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    UniqueFd fd(::open(file.c_str(), flags));
    if (!fd.valid())
        return lastError();
    struct stat status = {};
    if (::fstat(fd.get(), &status) != 0)
        return lastError();
    if (!S_ISREG(status.st_mode))
        return failed(FileError::Kind::NotAFile, S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
    return fd;
}

// Writes `bytes` to the new file `fd`, gives it `mode` when one is asked for, makes it durable and closes it;
// a failed close counts, as some file systems report a full disk only there.
FileResult<void> fillAndClose(UniqueFd fd, std::string_view bytes, std::optional<unsigned> mode)
{
    if (const auto written = writeAt(fd.get(), bytes, 0); !written.has_value())
        return written;
    if (mode && ::fchmod(fd.get(), static_cast<mode_t>(*mode)) != 0)
        return lastError();
    if (::fsync(fd.get()) != 0)
        return lastError();
    if (::close(fd.release()) != 0)
        return lastError();
    return {};
}

// A new file ".NAME.XXXXXX" beside `target`, created exclusively with mode 0644 less the umask.
FileResult<std::pair<std::filesystem::path, UniqueFd>> createHidden(const std::filesystem::path &target)
{
    static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand random(std::random_device{}());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof Letters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "." + target.filename().string() + ".";
        for (int i = 0; i < 6; ++i)
            name += Letters[pick(random)];
        const std::filesystem::path path = target.parent_path() / name;
        auto fd = createFile(path);
        if (fd.has_value())
            return std::pair(path, std::move(fd.value()));
        if (fd.error().kind != FileError::Kind::Exists)
            return common::unexpected(fd.error());
    }
    return failed(FileError::Kind::Exists, EEXIST);
}

} // namespace

namespace {

// The program's words for the system's reasons that a user can act on.
const char *systemWords(int code)
{
    switch (code) {
    case ENOENT:
        return "不存在";
    case ENOSPC:
    case EDQUOT:
        return "磁盘已满";
    case EACCES:
    case EPERM:
        return "没有权限";
    case EROFS:
        return "磁盘是只读的";
    case EFBIG:
        return "文件超过了允许的大小";
    case ENAMETOOLONG:
        return "路径太长";
    case ENOTDIR:
        return "路径中有一段不是文件夹";
    case EISDIR:
        return "是一个文件夹";
    case ENOTEMPTY:
        return "是一个不空的文件夹";
    case EIO:
        return "读写出错";
    case EMFILE:
    case ENFILE:
        return "打开的文件太多";
    case EEXIST:
        return "已经存在";
    case ELOOP:
        return "符号链接太多";
    case EBUSY:
        return "正被占用";
    case ETXTBSY:
        return "正在运行，不能写入";
    case EXDEV:
        return "不在同一个磁盘上";
    case EAGAIN:
        return "暂时无法进行";
    default:
        return nullptr;
    }
}

} // namespace

std::string FileError::describe() const
{
    switch (kind) {
    case Kind::Missing:
        return "不存在";
    case Kind::Exists:
        return "已经存在";
    case Kind::NotAFile:
        return code == EISDIR ? "是一个文件夹" : code == ELOOP ? "是符号链接" : "不是普通文件";
    case Kind::TooLarge:
        return "文件太大";
    case Kind::Busy:
        return "正被另一个程序锁定";
    case Kind::System:
        break;
    }
    // The system's own wording would be in the language of the locale, and strerror is not thread-safe.
    const char *words = systemWords(code);
    return words ? words : "系统错误（错误码 " + std::to_string(code) + "）";
}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

UniqueFd::~UniqueFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int UniqueFd::release()
{
    return std::exchange(m_fd, -1);
}

FileResult<UniqueFd> openForReading(const std::filesystem::path &file, Links links)
{
    return openRegular(file, O_RDONLY, links);
}

FileResult<UniqueFd> openForWriting(const std::filesystem::path &file, Links links)
{
    return openRegular(file, O_RDWR, links);
}

FileResult<UniqueFd> createFile(const std::filesystem::path &file)
{
    UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid())
        return lastError();
    return fd;
}

FileResult<std::string> readWhole(const std::filesystem::path &file, ReadLimit limit, Links links)
{
    const auto fd = openForReading(file, links);
    if (!fd.has_value())
        return common::unexpected(fd.error());
    std::string out;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd->get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return lastError();
        if (n == 0)
            return out;
        const std::size_t room = limit.bytes - out.size();
        out.append(buffer, std::min(static_cast<std::size_t>(n), room));
        if (static_cast<std::size_t>(n) > room) {
            if (!limit.cut)
                return failed(FileError::Kind::TooLarge, EFBIG);
            return out;
        }
    }
}

FileResult<std::size_t> readAt(int fd, char *buffer, std::size_t size, std::int64_t offset)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, buffer + got, size - got, offset + static_cast<std::int64_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return lastError();
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

FileResult<void> writeAt(int fd, std::string_view bytes, std::int64_t offset)
{
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return common::unexpected(errorFrom(n == 0 ? ENOSPC : errno));
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return {};
}

FileResult<void> resizeFile(int fd, std::int64_t length)
{
    if (::ftruncate(fd, length) != 0)
        return lastError();
    return {};
}

FileResult<void> syncData(int fd)
{
    if (::fdatasync(fd) != 0)
        return lastError();
    return {};
}

void syncFolder(const std::filesystem::path &folder)
{
    const UniqueFd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

FileResult<std::filesystem::path> writeTemporary(
    const std::filesystem::path &target, std::string_view bytes, unsigned mode)
{
    auto created = createHidden(target);
    if (!created.has_value())
        return common::unexpected(created.error());
    auto &[path, fd] = created.value();
    if (const auto filled = fillAndClose(std::move(fd), bytes, mode); !filled.has_value()) {
        ::unlink(path.c_str());
        return common::unexpected(filled.error());
    }
    return path;
}

FileResult<void> replaceFile(const std::filesystem::path &file, std::string_view bytes, const ReplaceOptions &options)
{
    std::filesystem::path target = file;
    if (options.keepLink) {
        auto resolved = resolveLinks(file);
        if (!resolved.has_value())
            return common::unexpected(resolved.error());
        target = std::move(resolved.value());
    }
    std::optional<unsigned> mode = options.mode;
    struct stat old = {};
    if (options.keepMode && ::stat(target.c_str(), &old) == 0)
        mode = old.st_mode & 07777;
    std::filesystem::path temporary = options.temporary;
    UniqueFd fd;
    if (temporary.empty()) {
        auto created = createHidden(target);
        if (!created.has_value())
            return common::unexpected(created.error());
        temporary = std::move(created->first);
        fd = std::move(created.value().second);
    } else {
        auto created = createFile(temporary);
        if (!created.has_value())
            return common::unexpected(created.error());
        fd = std::move(created.value());
    }
    auto done = fillAndClose(std::move(fd), bytes, mode);
    if (done.has_value())
        done = renameFile(temporary, target, options.noReplace ? Overwrite::No : Overwrite::Yes);
    if (!done.has_value()) {
        ::unlink(temporary.c_str());
        return done;
    }
    if (options.syncFolder)
        syncFolder(target.has_parent_path() ? target.parent_path() : std::filesystem::path("."));
    return {};
}

FileResult<void> renameFile(const std::filesystem::path &from, const std::filesystem::path &to, Overwrite overwrite)
{
    if (overwrite == Overwrite::Yes) {
        if (::rename(from.c_str(), to.c_str()) != 0)
            return lastError();
        return {};
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return lastError();
    // A file system without the no-replace rename: a hard link also never replaces.
    if (::link(from.c_str(), to.c_str()) != 0)
        return lastError();
    ::unlink(from.c_str());
    return {};
}

FileResult<void> removeFile(const std::filesystem::path &file)
{
    if (::unlink(file.c_str()) != 0)
        return lastError();
    return {};
}

FileResult<void> makeFolder(const std::filesystem::path &folder)
{
    if (::mkdir(folder.c_str(), 0777) != 0)
        return lastError();
    return {};
}

FileResult<void> makeFolders(const std::filesystem::path &folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return common::unexpected(errorFrom(error.value()));
    return {};
}

FileResult<void> removeEmptyFolder(const std::filesystem::path &folder)
{
    if (::rmdir(folder.c_str()) != 0)
        return lastError();
    return {};
}

bool nameTaken(const std::filesystem::path &path)
{
    struct stat status = {};
    return ::lstat(path.c_str(), &status) == 0;
}

bool isReadOnly(const std::filesystem::path &file)
{
    struct stat status = {};
    if (::stat(file.c_str(), &status) != 0)
        return false;
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(file.c_str(), W_OK) != 0;
}

FileResult<std::filesystem::path> resolveLinks(std::filesystem::path file)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        const auto status = std::filesystem::symlink_status(file, error);
        if (error || status.type() != std::filesystem::file_type::symlink)
            return file;
        const std::filesystem::path target = std::filesystem::read_symlink(file, error);
        if (error)
            return failed(FileError::Kind::NotAFile, error.value());
        const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
        file = target.is_absolute() ? target : folder / target;
    }
    return failed(FileError::Kind::NotAFile, ELOOP);
}

FileResult<void> lockFile(int fd, LockWait wait)
{
    const int operation = LOCK_EX | (wait == LockWait::No ? LOCK_NB : 0);
    int locked = 0;
    while ((locked = ::flock(fd, operation)) != 0 && errno == EINTR) { }
    if (locked != 0)
        return lastError();
    return {};
}

FileResult<FileLock> FileLock::acquire(const std::filesystem::path &path, LockWait wait)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid())
        return lastError();
    if (const auto locked = lockFile(fd.get(), wait); !locked.has_value())
        return common::unexpected(locked.error());
    return FileLock(std::move(fd));
}

namespace {

FileIdentity identityOf(const struct stat &status)
{
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
        static_cast<std::uint64_t>(status.st_size),
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

} // namespace

std::optional<FileIdentity> fileIdentity(const std::filesystem::path &file)
{
    struct stat status = {};
    if (::stat(file.c_str(), &status) != 0)
        return std::nullopt;
    return identityOf(status);
}

std::optional<FileIdentity> fileIdentity(int fd)
{
    struct stat status = {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    return identityOf(status);
}

} // namespace platform
