#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

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

bool writeAt(int fd, std::string_view bytes, std::int64_t offset)
{
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            errno = n == 0 ? ENOSPC : errno;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

ReadStatus readWhole(const std::filesystem::path &file, std::string &out, std::size_t limit)
{
    out.clear();
    // Without O_NONBLOCK the open of a FIFO would wait for a writer that may never come.
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid())
        return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    struct stat status = {};
    if (::fstat(fd.get(), &status) != 0)
        return ReadStatus::Failed;
    if (!S_ISREG(status.st_mode))
        return ReadStatus::NotAFile;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ReadStatus::Failed;
        if (n == 0)
            return ReadStatus::Ok;
        const std::size_t room = limit - out.size();
        out.append(buffer, std::min(static_cast<std::size_t>(n), room));
        if (static_cast<std::size_t>(n) > room)
            return ReadStatus::TooLarge;
    }
}

bool replaceWhole(const std::filesystem::path &file, std::string_view bytes)
{
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temporary = file;
    temporary += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    bool written = false;
    {
        const UniqueFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!out.valid())
            return false;
        written = writeAt(out.get(), bytes, 0) && ::fsync(out.get()) == 0;
    }
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        const int reason = errno;
        ::unlink(temporary.c_str());
        errno = reason;
        return false;
    }
    syncFolder(file.has_parent_path() ? file.parent_path() : std::filesystem::path("."));
    return true;
}

std::optional<FileIdentity> fileIdentity(const std::filesystem::path &file)
{
    struct stat status = {};
    if (::stat(file.c_str(), &status) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
        static_cast<std::uint64_t>(status.st_size),
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

void syncFolder(const std::filesystem::path &folder)
{
    const UniqueFd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

} // namespace platform

namespace platform {

bool replaceFile(const std::filesystem::path &file, std::string_view bytes)
{
    std::string name = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    const UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.valid())
        return false;
    const bool written = writeAt(fd.get(), bytes, 0) && ::fchmod(fd.get(), 0644) == 0 && ::fsync(fd.get()) == 0
        && std::rename(name.c_str(), file.c_str()) == 0;
    if (!written) {
        const int error = errno;
        ::unlink(name.c_str());
        errno = error;
        return false;
    }
    syncFolder(file.parent_path());
    return true;
}

} // namespace platform
