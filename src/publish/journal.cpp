#include "publish/journal.h"

#include "catalog/category.h"
#include "common/gbk.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "update/manifest.h"

#include <cstdio>
#include <set>

namespace publish {

namespace {

constexpr std::string_view JournalName = ".kavo-publish";
constexpr std::size_t MaxJournalBytes = 1 << 20;

common::Unexpected<PublishError> notReplaced(const std::filesystem::path &path, const platform::FileError &cause)
{
    return common::unexpected(PublishError{PublishError::Kind::NotReplaced, path, cause, true});
}

// "FROM\tTO\n" per rename, paths relative to OUT, then "end\n": a journal is only ever seen whole, since it is
// itself renamed into place, and the last line tells a journal from any other file of that name.
std::string journalText(const std::vector<std::pair<std::filesystem::path, std::filesystem::path>> &renames,
    const std::filesystem::path &out)
{
    std::string text;
    for (const auto &[from, to] : renames)
        text += from.lexically_relative(out).string() + "\t" + to.lexically_relative(out).string() + "\n";
    return text + "end\n";
}

bool isTemporary(const std::string &file);
bool isPublishedName(const std::string &name);

// The folders a publish writes into: OUT itself and its own (not linked) folders for lists and share pages.
bool isPublishFolder(const std::filesystem::path &relative, const std::filesystem::path &out)
{
    if (relative.empty())
        return true;
    const std::string name = relative.string();
    if (name != "share" && name != "lists" && name != platform::nativePath(common::gbk("自动更新")).string())
        return false;
    std::error_code error;
    return !std::filesystem::is_symlink(out / relative, error);
}

// A rename a publish makes: the temporary ".NAME.XXXXXX" of a published NAME, beside it in a publish folder.
bool isPublishRename(
    const std::filesystem::path &from, const std::filesystem::path &to, const std::filesystem::path &out)
{
    const std::string temporary = from.filename().string();
    const std::string name = to.filename().string();
    return from.parent_path() == to.parent_path() && isPublishFolder(to.parent_path(), out) && isPublishedName(name)
        && isTemporary(temporary) && temporary.compare(1, name.size(), name) == 0
        && temporary.size() == name.size() + 8;
}

// The renames of a journal; nothing when the text is no whole journal or names anything but the renames a
// publish makes (a journal planted in OUT must not move files elsewhere).
std::optional<std::vector<std::pair<std::filesystem::path, std::filesystem::path>>> parseJournal(
    std::string_view text, const std::filesystem::path &out)
{
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> renames;
    const auto inside = [](const std::filesystem::path &relative) {
        return !relative.empty() && relative.is_relative() && *relative.begin() != ".."
            && relative.lexically_normal() == relative;
    };
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (line == "end")
            return text.empty() ? std::optional(renames) : std::nullopt;
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            return std::nullopt;
        const std::filesystem::path from(line.substr(0, tab));
        const std::filesystem::path to(line.substr(tab + 1));
        if (!inside(from) || !inside(to) || !isPublishRename(from, to, out))
            return std::nullopt;
        renames.emplace_back(out / from, out / to);
    }
    return std::nullopt;
}

common::Result<void, PublishError> renameAll(
    const std::vector<std::pair<std::filesystem::path, std::filesystem::path>> &renames, const StepHook &step)
{
    std::set<std::filesystem::path> folders;
    for (const auto &[from, to] : renames) {
        if (step)
            step("rename " + to.filename().string());
        std::error_code missing;
        if (!std::filesystem::exists(from, missing))
            continue; // made already by the publish that wrote the journal
        if (const auto renamed = platform::renameFile(from, to, platform::Overwrite::Yes); !renamed.has_value())
            return notReplaced(to, renamed.error());
        folders.insert(to.parent_path());
    }
    for (const std::filesystem::path &folder : folders)
        platform::syncFolder(folder);
    return {};
}

// Whether `name` is one that a publish writes: the manifest page, its signature, the journal, or a category's
// list or share page (with or without the hash in its name).
bool isPublishedName(const std::string &name)
{
    if (name == update::ManifestPageName || name == update::ManifestSignatureName || name == JournalName)
        return true;
    if (!name.ends_with(".txt") && !name.ends_with(".html"))
        return false;
    for (const catalog::Category &category : catalog::categories()) {
        const std::string categoryName = platform::nativePath(category.name).string();
        if (name.starts_with(categoryName + "."))
            return true;
    }
    return false;
}

// ".NAME.XXXXXX", the temporary file of NAME.
bool isTemporary(const std::string &file)
{
    if (file.size() < 9 || file[0] != '.' || file[file.size() - 7] != '.')
        return false;
    return isPublishedName(file.substr(1, file.size() - 8));
}

} // namespace

std::filesystem::path journalFile(const std::filesystem::path &out)
{
    return out / JournalName;
}

common::Result<std::size_t, PublishError> commitChanges(
    const std::filesystem::path &out, const std::vector<FileChange> &changes, const StepHook &step)
{
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> renames;
    std::vector<std::filesystem::path> created;
    const auto undo = [&renames, &created](PublishError error) {
        for (const auto &rename : renames)
            (void)platform::removeFile(rename.first);
        // The publish has failed with its own reason already; a folder left over is empty and harmless.
        for (auto folder = created.rbegin(); folder != created.rend(); ++folder)
            (void)platform::removeEmptyFolder(*folder);
        return common::unexpected(std::move(error));
    };
    for (const FileChange &change : changes) {
        if (step)
            step("write " + change.path.filename().string());
        if (const auto made = makeParentFolders(change.path, created); !made.has_value())
            return undo(made.error());
        common::Result<std::filesystem::path, PublishError> temporary = writeTemporary(change.path, change.bytes);
        if (!temporary.has_value())
            return undo(temporary.error());
        renames.emplace_back(std::move(temporary.value()), change.path);
    }
    if (step)
        step("journal");
    const common::Result<std::filesystem::path, PublishError> journal
        = writeTemporary(journalFile(out), journalText(renames, out));
    if (!journal.has_value())
        return undo(journal.error());
    if (const auto renamed = platform::renameFile(journal.value(), journalFile(out), platform::Overwrite::Yes);
        !renamed.has_value()) {
        (void)platform::removeFile(journal.value());
        return undo(PublishError{PublishError::Kind::NotWritten, journalFile(out), renamed.error()});
    }
    platform::syncFolder(out);
    if (const auto renamed = renameAll(renames, step); !renamed.has_value())
        return common::unexpected(renamed.error());
    if (step)
        step("finish");
    // A journal left here is harmless: its renames are done, so the next publish only removes it.
    (void)platform::removeFile(journalFile(out));
    platform::syncFolder(out);
    return changes.size();
}

common::Result<void, PublishError> recoverPublish(const std::filesystem::path &out)
{
    const auto text = platform::readWhole(journalFile(out), {MaxJournalBytes});
    if (text.has_value()) {
        // A journal that does not parse was never renamed into place by a publish: it is not ours to follow.
        if (const auto renames = parseJournal(text.value(), out)) {
            if (const auto renamed = renameAll(*renames, {}); !renamed.has_value())
                return renamed;
        }
        if (const auto removed = platform::removeFile(journalFile(out)); !removed.has_value())
            return common::unexpected(PublishError{PublishError::Kind::NotRemoved, journalFile(out), removed.error()});
        platform::syncFolder(out);
    } else if (text.error().kind != platform::FileError::Kind::Missing) {
        return common::unexpected(PublishError{PublishError::Kind::Unreadable, journalFile(out), text.error()});
    }
    for (const std::filesystem::path &relative :
        {std::filesystem::path(), platform::nativePath(common::gbk("自动更新")), std::filesystem::path("share"),
            std::filesystem::path("lists")}) {
        if (!isPublishFolder(relative, out))
            continue;
        std::error_code error;
        for (auto entry = std::filesystem::directory_iterator(out / relative, error);
             !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
            // A temporary file that stays is never published, and the next publish tries again.
            std::error_code ignored;
            if (entry->is_regular_file(ignored) && isTemporary(entry->path().filename().string()))
                (void)platform::removeFile(entry->path());
        }
    }
    return {};
}

} // namespace publish
