#pragma once

#include "platform/files.h"

#include <filesystem>
#include <string>

// Why a publish could not read or change the files of the tree it writes into. Pure; thread-safe.
namespace publish {

struct PublishError
{
    enum class Kind
    {
        Unreadable, // a file the publish reads exists but cannot be read: mend it, then publish again
        FolderNotMade, // a folder above a file the publish writes cannot be made
        NotWritten, // a new file could not be written to the disk; nothing published changed
        NotReplaced, // a rename over a published file failed (see `completedLater`)
        NotAFolder, // the tree's name belongs to something that is not a folder
        Busy, // another publish holds the tree: publish again when it has finished
        Moved, // the tree's folder was replaced while the publish began: publish again
        NotLocked, // the tree's folder cannot be locked
        NotRemoved // the journal an earlier publish left cannot be removed once it is followed
    };
    Kind kind = Kind::NotWritten;
    std::filesystem::path path; // the file or folder concerned
    platform::FileError cause; // the system's reason; unused for NotAFolder, Busy and Moved
    // NotReplaced only: the renames were written down first, so the next publish into the tree completes them;
    // otherwise the files already replaced got their earlier content back.
    bool completedLater = false;
};

// The reason without the path, UTF-8, in the program's words ("无法替换：磁盘已满"). Pure.
std::string describe(const PublishError &error);

} // namespace publish
