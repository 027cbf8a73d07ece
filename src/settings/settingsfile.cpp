#include "settings/settingsfile.h"

#include "common/gbk.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "settings/ini.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace settings {

using common::gbk;

namespace {

// Threads of this process serialise on the mutex; processes serialise on an flock of the folder, which needs
// no extra file beside the settings.
class WriterLock
{
public:
    explicit WriterLock(const std::filesystem::path &folder)
        : m_guard(mutex())
        , m_lock(platform::FileLock::acquire(folder, platform::LockWait::Yes))
    {
    }
    const platform::FileResult<platform::FileLock> &lock() const { return m_lock; }

private:
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    std::lock_guard<std::mutex> m_guard;
    platform::FileResult<platform::FileLock> m_lock;
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

common::Unexpected<SettingsError> failure(SettingsError::Kind kind, std::string detail)
{
    return common::unexpected(SettingsError{kind, std::move(detail)});
}

common::Unexpected<SettingsError> systemFailure(
    const std::string &what, const std::filesystem::path &file, const platform::FileError &error)
{
    return failure(SettingsError::Kind::Io, gbk(what) + " " + platform::gbkPath(file) + gbk("：" + error.describe()));
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
        if (isTemporaryName(entry->path().filename().string(), fileName))
            (void)platform::removeFile(entry->path());
    }
}

} // namespace

std::string ReadSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view defaultValue)
{
    const auto content = platform::readWhole(file, {MaxFileBytes, true});
    std::optional<std::string> value;
    if (content.has_value())
        value = iniLookup(content.value(), section, key);
    const std::string_view chosen = value ? std::string_view(*value) : common::untilZero(defaultValue);
    return std::string(common::truncateChars(chosen, MaxValueBytes));
}

common::Result<void, SettingsError> saveSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view value)
{
    if (const auto problem = nameProblem(section, NameKind::Section))
        return failure(SettingsError::Kind::BadName, gbk("节名" + std::string(*problem)));
    if (const auto problem = nameProblem(key, NameKind::Key))
        return failure(SettingsError::Kind::BadName, gbk("键名" + std::string(*problem)));
    const auto resolved = platform::resolveLinks(file);
    if (!resolved.has_value())
        return failure(SettingsError::Kind::Io, gbk("符号链接太多或无法读取：") + platform::gbkPath(file));
    const std::filesystem::path &target = resolved.value();
    const WriterLock lock(folderOf(target));
    if (!lock.lock().has_value())
        return systemFailure("无法打开文件夹", folderOf(target), lock.lock().error());
    if (platform::isReadOnly(target))
        return failure(SettingsError::Kind::ReadOnly, platform::gbkPath(target) + gbk(" 是只读的"));
    auto content = platform::readWhole(target, {MaxFileBytes});
    if (!content.has_value()) {
        switch (content.error().kind) {
        case platform::FileError::Kind::Missing:
            content = std::string();
            break;
        case platform::FileError::Kind::TooLarge:
            return failure(SettingsError::Kind::TooLarge,
                platform::gbkPath(target) + gbk(" 超过 " + std::to_string(MaxFileBytes) + " 字节"));
        case platform::FileError::Kind::NotAFile:
            return failure(SettingsError::Kind::NotAFile, platform::gbkPath(target) + gbk(" 不是普通文件"));
        default:
            return systemFailure("无法读取", target, content.error());
        }
    }
    platform::ReplaceOptions options;
    options.keepMode = true;
    options.temporary = temporaryName(target);
    const auto replaced = platform::replaceFile(target, iniAssign(content.value(), section, key, value), options);
    if (!replaced.has_value())
        return systemFailure("无法替换", target, replaced.error());
    return {};
}

bool WriteSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view value)
{
    return saveSetting(file, section, key, value).has_value();
}

void clearStaleTemporaries(const std::filesystem::path &file)
{
    const auto target = platform::resolveLinks(file);
    if (!target.has_value())
        return;
    const WriterLock lock(folderOf(target.value()));
    if (lock.lock().has_value())
        removeLeftovers(target.value(), folderOf(target.value()));
}

} // namespace settings
