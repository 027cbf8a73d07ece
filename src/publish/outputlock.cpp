#include "publish/outputlock.h"

#include "publish/filebatch.h"
#include "update/manifest.h"

namespace publish {

common::Result<OutputLock, PublishError> OutputLock::acquire(const std::filesystem::path &out)
{
    using Kind = PublishError::Kind;
    std::error_code error;
    if (std::filesystem::exists(out, error) && !std::filesystem::is_directory(out, error))
        return common::unexpected(PublishError{Kind::NotAFolder, out, {}});
    std::vector<std::filesystem::path> created;
    if (const auto made = makeParentFolders(update::manifestPageFile(out), created); !made.has_value()) {
        const OutputLock undo({}, std::move(created));
        return common::unexpected(made.error());
    }
    auto locked = platform::FileLock::acquire(out, platform::LockWait::No);
    if (!locked.has_value()) {
        const OutputLock undo({}, std::move(created));
        const bool busy = locked.error().kind == platform::FileError::Kind::Busy;
        return common::unexpected(PublishError{busy ? Kind::Busy : Kind::NotLocked, out, locked.error()});
    }
    // A folder removed or replaced between the open and the lock is not the one the publish would write into.
    const auto opened = platform::fileIdentity(locked->fd().get());
    const auto named = platform::fileIdentity(out);
    OutputLock lock(std::move(locked.value()), std::move(created));
    if (!opened || !named || !opened->sameFile(*named))
        return common::unexpected(PublishError{Kind::Moved, out, {}});
    return lock;
}

OutputLock::OutputLock(std::optional<platform::FileLock> lock, std::vector<std::filesystem::path> created)
    : m_lock(std::move(lock))
    , m_created(std::move(created))
{
}

OutputLock::OutputLock(OutputLock &&other) noexcept
    : m_lock(std::exchange(other.m_lock, std::nullopt))
    , m_created(std::move(other.m_created))
{
    other.m_created.clear();
}

OutputLock::~OutputLock()
{
    // Only a folder that stayed empty goes; one the publish wrote into is its output and stays.
    for (auto folder = m_created.rbegin(); folder != m_created.rend(); ++folder)
        (void)platform::removeEmptyFolder(*folder);
}

} // namespace publish
