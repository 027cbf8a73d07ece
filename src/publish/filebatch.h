#pragma once

#include "common/result.h"
#include "publish/publisherror.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Replacing several files so that a failure leaves them all as they were. POSIX; thread-safe for distinct files.
namespace publish {

// The content of `file`; nothing when it does not exist; Unreadable when it exists but cannot be read.
common::Result<std::optional<std::string>, PublishError> readExisting(const std::filesystem::path &file);

// Makes the folders above `file` that do not exist yet, outermost first, and appends each one made to
// `created`. FolderNotMade names the folder that could not be made.
common::Result<void, PublishError> makeParentFolders(
    const std::filesystem::path &file, std::vector<std::filesystem::path> &created);

// A new hidden file ".NAME.XXXXXX" beside `target` holding `bytes`, on the disk; readable by a web server like
// any published file. NotWritten names the target.
common::Result<std::filesystem::path, PublishError> writeTemporary(
    const std::filesystem::path &target, std::string_view bytes);

struct FileChange
{
    std::filesystem::path path;
    std::string bytes; // the new content
    std::optional<std::string> before; // the content it replaces; nothing when the file does not exist yet
};

// Writes every change to a temporary file beside its target and makes it durable, then renames them over their
// targets in order, creating missing folders first. When a temporary file cannot be written nothing is renamed;
// when a rename fails, the files already replaced get their earlier content back (or are removed), and folders
// this call created are removed again. The error names the file; NotReplaced never has `completedLater`.
common::Result<std::size_t, PublishError> replaceFiles(const std::vector<FileChange> &changes);

} // namespace publish
