#include "platform/paths.h"

#include "common/gbk.h"
#include "common/result.h"

#include <QDir>
#include <QStandardPaths>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

// Copies `source` to `target` unless `target` exists. The copy is made under a name of this process's and then
// linked to `target`, which never replaces a file: a crash mid-copy, or kavo and kavo-cli starting together,
// never leaves a partial list under the list's name.
std::error_code copyIfMissing(const std::filesystem::path &source, const std::filesystem::path &target)
{
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(target, error)))
        return {};
    std::filesystem::path temporary = target;
    temporary += ".copy." + std::to_string(::getpid());
    std::filesystem::copy_file(source, temporary, std::filesystem::copy_options::overwrite_existing, error);
    if (!error && ::link(temporary.c_str(), target.c_str()) != 0 && errno != EEXIST)
        error = std::error_code(errno, std::generic_category());
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return error;
}

std::filesystem::path executablePath()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path(error) / "kavo" : executable;
}

// The user's home folder: HOME, else the account's home in the password database (a service or `env -i` runs
// without HOME), so the user's files never land below "/".
std::filesystem::path homeFolder(const std::function<const char *(const char *)> &environment)
{
    if (const char *home = environment("HOME"); home && *home)
        return home;
    passwd entry{};
    passwd *account = nullptr;
    std::array<char, 16384> buffer{};
    ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &account);
    return account && account->pw_dir && *account->pw_dir ? account->pw_dir : "/";
}

// An XDG base folder: the variable when it holds an absolute path, else the home folder plus the fallback.
std::filesystem::path xdgFolder(const std::function<const char *(const char *)> &environment, const char *variable,
    const std::filesystem::path &fallback)
{
    if (const char *value = environment(variable); value && *value == '/')
        return value;
    return homeFolder(environment) / fallback;
}

std::filesystem::path listFolder(const std::filesystem::path &base)
{
    return base / nativePath(common::gbk("自动更新"));
}

// Why `path` could not be made or copied (UTF-8).
using Prepared = common::Result<void, std::string>;

common::Unexpected<std::string> describe(const std::filesystem::path &path, const std::error_code &error)
{
    return common::unexpected(path.string() + ": " + error.message());
}

// Creates `folder` when missing; the reason when it cannot be made or written into.
Prepared makeWritableFolder(const std::filesystem::path &folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return describe(folder, error);
    if (::access(folder.c_str(), W_OK) != 0)
        return describe(folder, std::error_code(errno, std::generic_category()));
    return {};
}

// Makes the user's list folder and copies in each shipped list the user lacks; the first reason it failed.
Prepared fillListFolder(const ProgramPaths &paths)
{
    const std::filesystem::path lists = listFolder(paths.lists);
    std::error_code error;
    std::filesystem::create_directories(lists, error);
    if (error)
        return describe(lists, error);
    const std::filesystem::path source = listFolder(paths.data);
    std::filesystem::directory_iterator shipped(source, error);
    for (; !error && shipped != std::filesystem::directory_iterator(); shipped.increment(error)) {
        const std::filesystem::path target = lists / shipped->path().filename();
        if (const std::error_code copyError = copyIfMissing(shipped->path(), target))
            return describe(target, copyError);
    }
    if (error)
        return describe(source, error);
    return {};
}

} // namespace

ProgramPaths resolveProgramPaths(
    const std::filesystem::path &executable, const std::function<const char *(const char *)> &environment)
{
    if (const char *home = environment("KAVO_HOME"); home && *home)
        return ProgramPaths(home);
    const std::filesystem::path folder = executable.parent_path();
    std::error_code error;
    const std::filesystem::path shared = folder.parent_path() / "share" / "kavo";
    if (folder.filename() != "bin" || !std::filesystem::is_directory(shared, error))
        return ProgramPaths(folder);
    ProgramPaths paths;
    paths.settings = xdgFolder(environment, "XDG_CONFIG_HOME", ".config") / "kavo";
    paths.lists = xdgFolder(environment, "XDG_DATA_HOME", ".local/share") / "kavo";
    paths.cache = xdgFolder(environment, "XDG_CACHE_HOME", ".cache") / "kavo";
    paths.data = shared.lexically_normal();
    return paths;
}

ProgramPaths programPaths()
{
    return resolveProgramPaths(executablePath(), [](const char *name) { return std::getenv(name); });
}

PreparedFiles prepareUserFiles(const ProgramPaths &paths)
{
    PreparedFiles prepared{paths, {}, true, false};
    if (paths.lists == paths.data)
        return prepared;
    if (const Prepared settings = makeWritableFolder(paths.settings); !settings.has_value()) {
        prepared.problems.push_back(settings.error());
        prepared.settingsKept = false;
    }
    if (const Prepared lists = fillListFolder(paths); !lists.has_value()) {
        prepared.problems.push_back(lists.error());
        prepared.paths.lists = paths.data;
        prepared.listsShipped = true;
    }
    return prepared;
}

std::optional<std::string> describePreparation(const PreparedFiles &prepared)
{
    if (prepared.problems.empty())
        return std::nullopt;
    std::string text = "无法建立用户文件夹：\n";
    for (const std::string &problem : prepared.problems)
        text += problem + "\n";
    if (!prepared.settingsKept)
        text += "设置不会被保存。";
    if (prepared.listsShipped)
        text += "目录使用程序自带的列表，不能更新。";
    return text;
}

std::filesystem::path userFolder(UserFolder kind)
{
    const auto location
        = kind == UserFolder::Downloads ? QStandardPaths::DownloadLocation : QStandardPaths::PicturesLocation;
    const QString folder = QStandardPaths::writableLocation(location);
    const QString chosen = !folder.isEmpty() && QDir(folder).exists() ? folder : QDir::homePath();
    return std::filesystem::path(chosen.toStdString());
}

std::string usableFolder(std::string_view gbkStored, const std::filesystem::path &fallback)
{
    std::error_code error;
    if (!gbkStored.empty() && std::filesystem::is_directory(nativePath(gbkStored), error))
        return std::string(gbkStored);
    return gbkPath(fallback);
}

std::filesystem::path nativePath(std::string_view gbk)
{
    return std::filesystem::path(common::utf8FromGbk(gbk));
}

std::string gbkPath(const std::filesystem::path &path)
{
    return common::gbkFromUtf8(path.native());
}

} // namespace platform
