#include "publish/filebatch.h"

#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace publish {

namespace {

std::string failure(const std::filesystem::path &path, const char *what, int error)
{
    return path.string() + ": " + what + ": " + std::strerror(error);
}

} // namespace

common::Result<std::filesystem::path, std::string> writeTemporary(
    const std::filesystem::path &target, std::string_view bytes)
{
    std::string name = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return common::unexpected(failure(target, "cannot create a temporary file beside it", errno));
    bool written = platform::writeAt(fd, bytes, 0) && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(name.c_str());
        return common::unexpected(failure(target, "cannot be written", error));
    }
    return std::filesystem::path(name);
}

namespace {

// The folders above `file` that do not exist yet, outermost first.
std::vector<std::filesystem::path> missingFolders(const std::filesystem::path &file)
{
    std::vector<std::filesystem::path> missing;
    std::error_code error;
    for (std::filesystem::path folder = file.parent_path(); !folder.empty() && !std::filesystem::exists(folder, error);
         folder = folder.parent_path()) {
        missing.push_back(folder);
        if (folder == folder.parent_path())
            break;
    }
    std::reverse(missing.begin(), missing.end());
    return missing;
}

// Removes the files and then the folders, innermost first; a folder that is not empty stays.
void removeAll(const std::vector<std::filesystem::path> &files, const std::vector<std::filesystem::path> &folders)
{
    std::error_code ignored;
    for (const std::filesystem::path &file : files)
        std::filesystem::remove(file, ignored);
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        std::filesystem::remove(*folder, ignored);
}

// Gives the first `count` changed files their earlier content back, as well as it can.
void restore(const std::vector<FileChange> &changes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const FileChange &change = changes[i];
        if (!change.before) {
            ::unlink(change.path.c_str());
            continue;
        }
        const common::Result<std::filesystem::path, std::string> temporary
            = writeTemporary(change.path, *change.before);
        if (temporary.has_value() && ::rename(temporary->c_str(), change.path.c_str()) != 0)
            ::unlink(temporary->c_str());
    }
}

// The renames themselves reach the disk with their folders.
void syncFolders(const std::vector<FileChange> &changes)
{
    std::set<std::filesystem::path> folders;
    for (const FileChange &change : changes)
        folders.insert(change.path.parent_path());
    for (const std::filesystem::path &folder : folders)
        platform::syncFolder(folder);
}

} // namespace

common::Result<void, std::string> makeFolders(
    const std::filesystem::path &file, std::vector<std::filesystem::path> &created)
{
    for (const std::filesystem::path &folder : missingFolders(file)) {
        std::error_code error;
        if (!std::filesystem::create_directory(folder, error) && error)
            return common::unexpected(failure(folder, "cannot be created", error.value()));
        created.push_back(folder);
    }
    return {};
}

common::Result<std::optional<std::string>, std::string> readExisting(const std::filesystem::path &file)
{
    std::string content;
    switch (platform::readWhole(file, content, std::numeric_limits<std::size_t>::max())) {
    case platform::ReadStatus::Ok:
    case platform::ReadStatus::TooLarge: // not with this limit
        return std::optional<std::string>(std::move(content));
    case platform::ReadStatus::Missing:
        return std::optional<std::string>();
    case platform::ReadStatus::NotAFile:
        return common::unexpected(std::string("cannot be read: ")
            + (std::filesystem::is_directory(file) ? std::strerror(EISDIR) : "not a regular file"));
    case platform::ReadStatus::Failed:
        break;
    }
    return common::unexpected(std::string("cannot be read: ") + std::strerror(errno));
}

common::Result<std::size_t, std::string> replaceFiles(const std::vector<FileChange> &changes)
{
    std::vector<std::filesystem::path> created;
    std::vector<std::filesystem::path> temporaries;
    for (const FileChange &change : changes) {
        if (const auto made = makeFolders(change.path, created); !made.has_value()) {
            removeAll(temporaries, created);
            return common::unexpected(made.error());
        }
        common::Result<std::filesystem::path, std::string> temporary = writeTemporary(change.path, change.bytes);
        if (!temporary.has_value()) {
            removeAll(temporaries, created);
            return common::unexpected(temporary.error());
        }
        temporaries.push_back(std::move(temporary.value()));
    }
    for (std::size_t i = 0; i < changes.size(); ++i) {
        if (::rename(temporaries[i].c_str(), changes[i].path.c_str()) != 0) {
            const int error = errno;
            restore(changes, i);
            removeAll({temporaries.begin() + static_cast<std::ptrdiff_t>(i), temporaries.end()}, created);
            return common::unexpected(failure(changes[i].path, "cannot be replaced", error));
        }
    }
    syncFolders(changes);
    return changes.size();
}

} // namespace publish
