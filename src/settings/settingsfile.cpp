#include "settings/settingsfile.h"

#include "common/gbk.h"
#include "settings/ini.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace settings {

namespace {

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

enum class ReadStatus
{
    Ok,
    Missing,
    TooLarge,
    Failed
};

ReadStatus readWhole(const std::filesystem::path &file, std::string &out, std::size_t limit)
{
    out.clear();
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
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

bool writeWhole(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

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
    FileDescriptor m_folder;
};

std::filesystem::path temporaryName(const std::filesystem::path &file)
{
    static std::atomic<unsigned> counter{0};
    std::filesystem::path name = file;
    name += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    return name;
}

// Temporary files of `file` left by writers that died mid-write. Call only while holding the writer lock: a
// live writer's temporary file exists only while it holds the lock, so every one found then is left over.
void removeLeftovers(const std::filesystem::path &file, const std::filesystem::path &folder)
{
    const std::string prefix = file.filename().string() + ".tmp.";
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (entry->path().filename().string().starts_with(prefix))
            std::filesystem::remove(entry->path(), ignored);
    }
}

bool replaceFile(const std::filesystem::path &file, std::string_view content, int folderFd)
{
    const std::filesystem::path temporary = temporaryName(file);
    {
        FileDescriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!out.valid())
            return false;
        if (!writeWhole(out.get(), content) || ::fsync(out.get()) != 0) {
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    ::fsync(folderFd);
    return true;
}

} // namespace

std::string ReadSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view defaultValue)
{
    std::string content;
    const ReadStatus status = readWhole(file, content, MaxFileBytes);
    std::optional<std::string> value;
    if (status == ReadStatus::Ok || status == ReadStatus::TooLarge)
        value = iniLookup(content, section, key);
    const std::string_view chosen = value ? std::string_view(*value) : common::untilZero(defaultValue);
    return std::string(common::truncateChars(chosen, MaxValueBytes));
}

bool WriteSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view value)
{
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    WriterLock lock(folder);
    if (!lock.valid())
        return false;
    removeLeftovers(file, folder);
    std::string content;
    const ReadStatus status = readWhole(file, content, MaxFileBytes);
    if (status == ReadStatus::TooLarge || status == ReadStatus::Failed)
        return false;
    return replaceFile(file, iniAssign(content, section, key, value), lock.folder());
}

} // namespace settings
