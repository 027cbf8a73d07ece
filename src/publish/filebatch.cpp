#include "publish/filebatch.h"

#include "platform/files.h"

#include <algorithm>
#include <limits>
#include <set>
#include <string_view>

namespace publish {

namespace {

common::Unexpected<PublishError> failure(
    PublishError::Kind kind, const std::filesystem::path &path, const platform::FileError &cause)
{
    return common::unexpected(PublishError{kind, path, cause});
}

} // namespace

common::Result<std::filesystem::path, PublishError> writeTemporary(
    const std::filesystem::path &target, std::string_view bytes)
{
    auto written = platform::writeTemporary(target, bytes, 0644);
    if (!written.has_value())
        return failure(PublishError::Kind::NotWritten, target, written.error());
    return std::move(written.value());
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
    // The batch has failed already, with its own reason; what cannot be removed is only left over, never
    // published.
    for (const std::filesystem::path &file : files)
        (void)platform::removeFile(file);
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        (void)platform::removeEmptyFolder(*folder);
}

// Gives the first `count` changed files their earlier content back, as well as it can.
void restore(const std::vector<FileChange> &changes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const FileChange &change = changes[i];
        platform::ReplaceOptions options;
        options.mode = 0644;
        options.syncFolder = false;
        if (!change.before)
            (void)platform::removeFile(change.path);
        else
            (void)platform::replaceFile(change.path, *change.before, options);
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

common::Result<void, PublishError> makeParentFolders(
    const std::filesystem::path &file, std::vector<std::filesystem::path> &created)
{
    for (const std::filesystem::path &folder : missingFolders(file)) {
        const auto made = platform::makeFolder(folder);
        if (made.has_value()) {
            created.push_back(folder);
            continue;
        }
        // A folder made meanwhile by someone else serves as well, but is not ours to remove again; a link made
        // there could lead the publish out of the tree.
        std::error_code error;
        if (made.error().kind != platform::FileError::Kind::Exists
            || !std::filesystem::is_directory(std::filesystem::symlink_status(folder, error)))
            return failure(PublishError::Kind::FolderNotMade, folder, made.error());
    }
    return {};
}

common::Result<std::optional<std::string>, PublishError> readExisting(const std::filesystem::path &file)
{
    auto content = platform::readWhole(file, {std::numeric_limits<std::size_t>::max()});
    if (content.has_value())
        return std::optional<std::string>(std::move(content.value()));
    if (content.error().kind == platform::FileError::Kind::Missing)
        return std::optional<std::string>();
    return failure(PublishError::Kind::Unreadable, file, content.error());
}

common::Result<std::size_t, PublishError> replaceFiles(const std::vector<FileChange> &changes)
{
    std::vector<std::filesystem::path> created;
    std::vector<std::filesystem::path> temporaries;
    for (const FileChange &change : changes) {
        if (const auto made = makeParentFolders(change.path, created); !made.has_value()) {
            removeAll(temporaries, created);
            return common::unexpected(made.error());
        }
        common::Result<std::filesystem::path, PublishError> temporary = writeTemporary(change.path, change.bytes);
        if (!temporary.has_value()) {
            removeAll(temporaries, created);
            return common::unexpected(temporary.error());
        }
        temporaries.push_back(std::move(temporary.value()));
    }
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const auto renamed = platform::renameFile(temporaries[i], changes[i].path, platform::Overwrite::Yes);
        if (!renamed.has_value()) {
            restore(changes, i);
            removeAll({temporaries.begin() + static_cast<std::ptrdiff_t>(i), temporaries.end()}, created);
            return failure(PublishError::Kind::NotReplaced, changes[i].path, renamed.error());
        }
    }
    syncFolders(changes);
    return changes.size();
}

} // namespace publish
