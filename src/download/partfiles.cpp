#include "download/partfiles.h"

#include "common/gbk.h"
#include "download/naming.h"

#include <cerrno>
#include <climits>

namespace download {

namespace {

// Room kept in a name for the longest suffix and a counter such as "(99)".
constexpr std::size_t NameBytes = NAME_MAX - std::char_traits<char>::length(ControlTempSuffix) - 8;
constexpr std::size_t MaxControlBytes = 1 << 20;

enum class Claim
{
    Claimed,
    Taken,
    Failed
};

DownloadError nameRefused(std::string_view utf8Detail)
{
    return {DownloadError::Kind::NameRefused, false, 0, common::gbk(utf8Detail)};
}

std::filesystem::path withSuffix(const std::filesystem::path &target, const char *suffix)
{
    std::filesystem::path path = target;
    path += suffix;
    return path;
}

std::optional<ControlRecord> readControl(const std::filesystem::path &control)
{
    const auto text = platform::readWhole(control, {MaxControlBytes}, platform::Links::Refuse);
    if (!text.has_value())
        return std::nullopt;
    return parseControl(text.value());
}

// The temporary file of a control record being written: nothing there, or a plain file that begins like a
// control record, which a run of this download left when it ended while writing one.
bool temporaryIsOurs(const std::filesystem::path &temporary)
{
    const auto head = platform::readWhole(temporary, {64, true}, platform::Links::Refuse);
    if (!head.has_value())
        return head.error().kind == platform::FileError::Kind::Missing;
    return beginsLikeControl(head.value());
}

// A partial file that is already there: ours to resume when it is a plain file that no task holds, its
// control record parses and names its size, and no one else's file lies where its records are written. A record
// of another address is ours too (a direct link carries a new token each time): the task decides how much of it
// still holds.
Claim adopt(PartFiles &files)
{
    auto fd = platform::openForWriting(files.part, platform::Links::Refuse);
    if (!fd.has_value() || !platform::lockFile(fd->get(), platform::LockWait::No).has_value())
        return Claim::Taken;
    const auto info = platform::fileIdentity(fd->get());
    auto record = readControl(files.control);
    if (!info || !record
        || (record->version.total >= 0 && static_cast<std::int64_t>(info->size) != record->version.total)
        || !temporaryIsOurs(files.controlTemporary))
        return Claim::Taken;
    (void)platform::removeFile(files.controlTemporary); // the leftover of an earlier run, if any
    files.fd = std::move(fd.value());
    files.resumed = std::move(record);
    return Claim::Claimed;
}

Claim tryClaim(PartFiles &files, const std::string &address, int &errnum)
{
    if (platform::nameTaken(files.target))
        return Claim::Taken;
    // A file where the records are written, with no partial file beside it, is someone else's.
    if (!platform::nameTaken(files.part) && platform::nameTaken(files.controlTemporary))
        return Claim::Taken;
    auto fd = platform::createFile(files.part);
    if (!fd.has_value()) {
        errnum = fd.error().code;
        return fd.error().kind == platform::FileError::Kind::Exists ? adopt(files) : Claim::Failed;
    }
    if (!platform::lockFile(fd->get(), platform::LockWait::No).has_value()) {
        (void)platform::removeFile(files.part);
        return Claim::Taken;
    }
    const auto control = platform::createFile(files.control);
    if (!control.has_value()) {
        errnum = control.error().code;
        (void)platform::removeFile(files.part);
        return control.error().kind == platform::FileError::Kind::Exists ? Claim::Taken : Claim::Failed;
    }
    if (const auto written = platform::writeAt(control->get(), formatControl({address, {}, {}, {}}), 0);
        !written.has_value()) {
        errnum = written.error().code;
        (void)platform::removeFile(files.control);
        (void)platform::removeFile(files.part);
        return Claim::Failed;
    }
    files.fd = std::move(fd.value());
    return Claim::Claimed;
}

PartFiles filesFor(const std::filesystem::path &target)
{
    PartFiles files;
    files.target = target;
    auto [part, control, controlTemporary] = partialFileNames(target);
    files.part = std::move(part);
    files.control = std::move(control);
    files.controlTemporary = std::move(controlTemporary);
    return files;
}

} // namespace

std::array<std::filesystem::path, 3> partialFileNames(const std::filesystem::path &target)
{
    return {withSuffix(target, PartSuffix), withSuffix(target, ControlSuffix), withSuffix(target, ControlTempSuffix)};
}

DownloadError diskError(int errnum)
{
    // Only what a download adds to the system's reason is said here; the rest is said as every file error is.
    DownloadError error{DownloadError::Kind::Disk, false, 0, {}};
    switch (errnum) {
    case EACCES:
    case EPERM:
        error.detail = common::gbk("没有写入这个文件夹的权限");
        break;
    case ENOENT:
    case ENOTDIR:
        error.kind = DownloadError::Kind::NameRefused;
        error.detail = common::gbk("保存的文件夹不存在");
        break;
    case ENAMETOOLONG:
        error.kind = DownloadError::Kind::NameRefused;
        error.detail = common::gbk("路径太长");
        break;
    default:
        error.detail = common::gbkFromUtf8(platform::FileError{platform::FileError::Kind::System, errnum}.describe());
    }
    return error;
}

common::Result<PartFiles, DownloadError> claimPartFiles(
    const std::filesystem::path &wanted, const std::string &address, const std::function<bool()> &keepGoing)
{
    const std::string wantedName = wanted.filename().native();
    if (wantedName.empty() || wantedName == "." || wantedName == "..")
        return common::unexpected(nameRefused("没有文件名"));
    const std::filesystem::path folder = wanted.has_parent_path() ? wanted.parent_path() : ".";
    std::string name = fitName(wantedName, NameBytes);
    if (name.empty())
        return common::unexpected(nameRefused("文件名太长"));
    for (int attempt = 0; attempt <= 99; ++attempt) {
        PartFiles files = filesFor(folder / name);
        int errnum = 0;
        switch (tryClaim(files, address, errnum)) {
        case Claim::Claimed:
            return files;
        case Claim::Failed:
            return common::unexpected(diskError(errnum));
        case Claim::Taken:
            break;
        }
        if (attempt == 0 && !keepGoing())
            return common::unexpected(nameRefused("同名的文件已经存在，下载被放弃"));
        name = nextName(name);
        if (name.size() + std::char_traits<char>::length(ControlTempSuffix) > NAME_MAX)
            return common::unexpected(nameRefused("文件名太长"));
    }
    return common::unexpected(nameRefused("同名的文件太多"));
}

common::Result<void, DownloadError> writeControl(const PartFiles &files, const ControlRecord &record)
{
    // The claim cleared a leftover of ours: a file there now is someone else's, and stays.
    platform::ReplaceOptions options;
    options.syncFolder = false;
    options.temporary = files.controlTemporary;
    const auto written = platform::replaceFile(files.control, formatControl(record), options);
    if (!written.has_value())
        return common::unexpected(diskError(written.error().code));
    return {};
}

common::Result<std::filesystem::path, DownloadError> publishPartFiles(PartFiles &files)
{
    std::filesystem::path target = files.target;
    for (int attempt = 0; attempt <= 99; ++attempt) {
        const auto renamed = platform::renameFile(files.part, target, platform::Overwrite::No);
        if (renamed.has_value()) {
            (void)platform::removeFile(files.control);
            files.fd = UniqueFd();
            return target;
        }
        if (renamed.error().kind != platform::FileError::Kind::Exists)
            return common::unexpected(diskError(renamed.error().code));
        target = target.parent_path() / nextName(target.filename().native());
    }
    return common::unexpected(nameRefused("同名的文件太多"));
}

void discardPartFiles(PartFiles &files)
{
    (void)platform::removeFile(files.part);
    (void)platform::removeFile(files.control);
    files.fd = UniqueFd();
}

} // namespace download
