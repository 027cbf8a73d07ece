#pragma once

#include "common/result.h"
#include "publish/filebatch.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Replacing the files of a published tree so that the tree is never left half old and half new: the renames are
// written down (OUT/.kavo-publish) before the first of them is made, so a publish killed among them is completed
// by the next one. POSIX; one publish at a time per tree (the output lock).
namespace publish {

// Called with the name of each step just before it changes anything in OUT, so a test can stop the publish there.
using StepHook = std::function<void(std::string_view step)>;

std::filesystem::path journalFile(const std::filesystem::path &out);

// Writes every change to a temporary file beside its target and makes it durable, records the renames in the
// journal, then renames them in order and removes the journal. Killed before the journal is in place, OUT is as
// it was (the next publish removes the temporaries); killed after, the next publish completes the renames. The
// error names the file; a failed rename after the journal is in place is NotReplaced with `completedLater`.
common::Result<std::size_t, PublishError> commitChanges(
    const std::filesystem::path &out, const std::vector<FileChange> &changes, const StepHook &step);

// Completes the renames of a journal that a killed publish left, then removes the temporaries that a publish
// killed earlier left beside its files (hidden ".NAME.XXXXXX" files, where NAME is a name a publish writes).
// Unreadable when the journal cannot be read; NotReplaced when a rename fails.
common::Result<void, PublishError> recoverPublish(const std::filesystem::path &out);

} // namespace publish
