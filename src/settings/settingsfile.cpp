#include "settings/settingsfile.h"

#include "common/gbk.h"
#include "platform/files.h"
#include "settings/ini.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace settings {

namespace {

using platform::ReadStatus;

// Threads of this process serialise on the mutex; processes serialise on an flock of the folder, which needs
// no extra file beside the settings.
class WriterLock
{
public:
    explicit WriterLock(const std::filesystem::path &folder)
        : m_guard(mutex())
        , m_folder(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_folder.valid()) {
            while (::flock(m_folder.get(), LOCK_EX) != 0 && errno == EINTR) { }
        }
    }
    bool valid() const { return m_folder.valid(); }
    int folder() const { return m_folder.get(); }

private:
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    std::lock_guard<std::mutex> m_guard;
    platform::UniqueFd m_folder;
};

std::filesystem::path temporaryName(const std::filesystem::path &file)
{
    static std::atomic<unsigned> counter{0};
    std::filesystem::path name = file;
    name += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    return name;
}

std::filesystem::path folderOf(const std::filesystem::path &file)
{
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// The file a chain of symbolic links ends at (it need not exist); nothing for a loop or an unreadable link.
std::optional<std::filesystem::path> followLinks(std::filesystem::path file)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        const auto status = std::filesystem::symlink_status(file, error);
        if (error || status.type() != std::filesystem::file_type::symlink)
            return file;
        const std::filesystem::path target = std::filesystem::read_symlink(file, error);
        if (error)
            return std::nullopt;
        file = target.is_absolute() ? target : folderOf(file) / target;
    }
    return std::nullopt;
}

common::Unexpected<SettingsError> failure(SettingsError::Kind kind, std::string detail)
{
    return common::unexpected(SettingsError{kind, std::move(detail)});
}

common::Unexpected<SettingsError> systemFailure(const std::string &what, const std::filesystem::path &file)
{
    return failure(SettingsError::Kind::Io, what + " " + file.string() + ": " + std::strerror(errno));
}

// Whether `name` is one that temporaryName() gives for a settings file called `fileName`: the file's name,
// ".tmp.", a process number, "." and a count. Other names are the user's, such as a copy "配置.tmp.bak".
bool isTemporaryName(std::string_view name, std::string_view fileName)
{
    const std::string prefix = std::string(fileName) + ".tmp.";
    if (!name.starts_with(prefix))
        return false;
    name.remove_prefix(prefix.size());
    const std::size_t dot = name.find('.');
    const auto isNumber = [](std::string_view text) {
        return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return dot != std::string_view::npos && isNumber(name.substr(0, dot)) && isNumber(name.substr(dot + 1));
}

// Temporary files of `file` left by writers that died mid-write. Call only while holding the writer lock: a
// live writer's temporary file exists only while it holds the lock, so every one found then is left over.
void removeLeftovers(const std::filesystem::path &file, const std::filesystem::path &folder)
{
    const std::string fileName = file.filename().string();
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (isTemporaryName(entry->path().filename().string(), fileName))
            std::filesystem::remove(entry->path(), ignored);
    }
}

// The status of `file`, or nothing when it does not exist (or cannot be looked at).
std::optional<struct stat> statusOf(const std::filesystem::path &file)
{
    struct stat status = {};
    if (::stat(file.c_str(), &status) != 0)
        return std::nullopt;
    return status;
}

// Whether an existing `file` may not be written: no write bit at all (which even root respects here, as the
// user marked it so) or no write access for this user.
bool isReadOnly(const std::filesystem::path &file, const struct stat &status)
{
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(file.c_str(), W_OK) != 0;
}

common::Result<void, SettingsError> replaceFile(
    const std::filesystem::path &file, std::string_view content, const std::optional<struct stat> &old, int folderFd)
{
    const std::filesystem::path temporary = temporaryName(file);
    {
        platform::UniqueFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!out.valid())
            return systemFailure("cannot create", temporary);
        const bool written = (!old || ::fchmod(out.get(), old->st_mode & 07777) == 0)
            && platform::writeAt(out.get(), content, 0) && ::fsync(out.get()) == 0;
        if (!written) {
            const auto failed = systemFailure("cannot write", temporary);
            ::unlink(temporary.c_str());
            return failed;
        }
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const auto failed = systemFailure("cannot replace", file);
        ::unlink(temporary.c_str());
        return failed;
    }
    ::fsync(folderFd);
    return {};
}

} // namespace

std::string ReadSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view defaultValue)
{
    std::string content;
    const ReadStatus status = platform::readWhole(file, content, MaxFileBytes);
    std::optional<std::string> value;
    if (status == ReadStatus::Ok || status == ReadStatus::TooLarge)
        value = iniLookup(content, section, key);
    const std::string_view chosen = value ? std::string_view(*value) : common::untilZero(defaultValue);
    return std::string(common::truncateChars(chosen, MaxValueBytes));
}

common::Result<void, SettingsError> saveSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view value)
{
    if (const auto problem = nameProblem(section, NameKind::Section))
        return failure(SettingsError::Kind::BadName, "the section name " + std::string(*problem));
    if (const auto problem = nameProblem(key, NameKind::Key))
        return failure(SettingsError::Kind::BadName, "the key name " + std::string(*problem));
    const auto target = followLinks(file);
    if (!target)
        return failure(SettingsError::Kind::Io, "too many or unreadable symbolic links at " + file.string());
    WriterLock lock(folderOf(*target));
    if (!lock.valid())
        return systemFailure("cannot open the folder", folderOf(*target));
    const std::optional<struct stat> old = statusOf(*target);
    if (old && isReadOnly(*target, *old))
        return failure(SettingsError::Kind::ReadOnly, target->string() + " is read-only");
    std::string content;
    const ReadStatus status = platform::readWhole(*target, content, MaxFileBytes);
    if (status == ReadStatus::TooLarge)
        return failure(SettingsError::Kind::TooLarge,
            target->string() + " is larger than " + std::to_string(MaxFileBytes) + " bytes");
    if (status == ReadStatus::NotAFile)
        return failure(SettingsError::Kind::Io, target->string() + " is not a regular file");
    if (status == ReadStatus::Failed)
        return systemFailure("cannot read", *target);
    return replaceFile(*target, iniAssign(content, section, key, value), old, lock.folder());
}

bool WriteSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view value)
{
    return saveSetting(file, section, key, value).has_value();
}

void clearStaleTemporaries(const std::filesystem::path &file)
{
    const auto target = followLinks(file);
    if (!target)
        return;
    const WriterLock lock(folderOf(*target));
    if (lock.valid())
        removeLeftovers(*target, folderOf(*target));
}

} // namespace settings
