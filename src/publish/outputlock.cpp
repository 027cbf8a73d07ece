#include "publish/outputlock.h"

#include "publish/filebatch.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace publish {

common::Result<OutputLock, std::string> OutputLock::acquire(const std::filesystem::path &out)
{
    std::error_code error;
    if (std::filesystem::exists(out, error) && !std::filesystem::is_directory(out, error))
        return common::unexpected(std::string("is not a folder"));
    std::vector<std::filesystem::path> created;
    if (const auto made = makeFolders(out / "manifest.html", created); !made.has_value()) {
        const OutputLock undo(-1, std::move(created));
        return common::unexpected(made.error());
    }
    const int fd = ::open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    OutputLock lock(fd, std::move(created));
    if (fd < 0)
        return common::unexpected(std::string("cannot be opened: ") + std::strerror(errno));
    int locked = 0;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
    if (locked != 0 && errno == EWOULDBLOCK)
        return common::unexpected(std::string("another publish into this folder is running; publish again when it "
                                              "has finished"));
    if (locked != 0)
        return common::unexpected(std::string("cannot be locked: ") + std::strerror(errno));
    // A folder removed or replaced between the open and the lock is not the one the publish would write into.
    struct stat opened
    {
    };
    struct stat named
    {
    };
    if (::fstat(fd, &opened) != 0 || ::stat(out.c_str(), &named) != 0 || opened.st_ino != named.st_ino
        || opened.st_dev != named.st_dev)
        return common::unexpected(std::string("was replaced while the publish began; publish again"));
    return lock;
}

OutputLock::OutputLock(int fd, std::vector<std::filesystem::path> created)
    : m_fd(fd)
    , m_created(std::move(created))
{
}

OutputLock::OutputLock(OutputLock &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_created(std::move(other.m_created))
{
    other.m_created.clear();
}

OutputLock::~OutputLock()
{
    std::error_code ignored;
    for (auto folder = m_created.rbegin(); folder != m_created.rend(); ++folder)
        std::filesystem::remove(*folder, ignored); // only an empty folder goes
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace publish
