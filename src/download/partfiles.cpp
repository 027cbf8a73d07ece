#include "download/partfiles.h"

#include "common/gbk.h"
#include "download/naming.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const UniqueFd fd(::open(control.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat info
    {
    };
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)
        || static_cast<std::size_t>(info.st_size) > MaxControlBytes)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    const ssize_t n = ::pread(fd.get(), text.data(), text.size(), 0);
    if (n != static_cast<ssize_t>(text.size()))
        return std::nullopt;
    return parseControl(text);
}

// The temporary file of a control record being written: nothing there, or a plain file that begins like a
// control record, which a run of this download left when it ended while writing one.
bool temporaryIsOurs(const std::filesystem::path &temporary)
{
    const UniqueFd fd(::open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return errno == ENOENT;
    struct stat info
    {
    };
    char head[64];
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const ssize_t n = ::pread(fd.get(), head, sizeof head, 0);
    return n >= 0 && beginsLikeControl(std::string_view(head, static_cast<std::size_t>(n)));
}

// A partial file that is already there: ours to resume when it is a plain file that no task holds, its
// control record parses and names its size, and no one else's file lies where its records are written. A record
// of another address is ours too (a direct link carries a new token each time): the task decides how much of it
// still holds.
Claim adopt(PartFiles &files)
{
    UniqueFd fd(::open(files.part.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat info
    {
    };
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)
        || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return Claim::Taken;
    auto record = readControl(files.control);
    if (!record || (record->version.total >= 0 && info.st_size != record->version.total)
        || !temporaryIsOurs(files.controlTemporary))
        return Claim::Taken;
    ::unlink(files.controlTemporary.c_str()); // the leftover of an earlier run, if any
    files.fd = std::move(fd);
    files.resumed = std::move(record);
    return Claim::Claimed;
}

Claim tryClaim(PartFiles &files, const std::string &address, int &errnum)
{
    struct stat info
    {
    };
    if (::lstat(files.target.c_str(), &info) == 0)
        return Claim::Taken;
    // A file where the records are written, with no partial file beside it, is someone else's.
    if (::lstat(files.part.c_str(), &info) != 0 && ::lstat(files.controlTemporary.c_str(), &info) == 0)
        return Claim::Taken;
    UniqueFd fd(::open(files.part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        errnum = errno;
        return errnum == EEXIST ? adopt(files) : Claim::Failed;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        ::unlink(files.part.c_str());
        return Claim::Taken;
    }
    const UniqueFd control(::open(files.control.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!control.valid()) {
        errnum = errno;
        ::unlink(files.part.c_str());
        return errnum == EEXIST ? Claim::Taken : Claim::Failed;
    }
    if (!platform::writeAt(control.get(), formatControl({address, {}, {}, {}}), 0)) {
        errnum = errno;
        ::unlink(files.control.c_str());
        ::unlink(files.part.c_str());
        return Claim::Failed;
    }
    files.fd = std::move(fd);
    return Claim::Claimed;
}

PartFiles filesFor(const std::filesystem::path &target)
{
    PartFiles files;
    files.target = target;
    files.part = withSuffix(target, PartSuffix);
    files.control = withSuffix(target, ControlSuffix);
    files.controlTemporary = withSuffix(target, ControlTempSuffix);
    return files;
}

} // namespace

DownloadError diskError(int errnum)
{
    DownloadError error{DownloadError::Kind::Disk, false, 0, {}};
    switch (errnum) {
    case ENOSPC:
    case EDQUOT:
        error.detail = common::gbk("磁盘已满");
        break;
    case EACCES:
    case EPERM:
        error.detail = common::gbk("没有写入这个文件夹的权限");
        break;
    case EROFS:
        error.detail = common::gbk("磁盘是只读的");
        break;
    case EFBIG:
        error.detail = common::gbk("文件超过了允许的大小");
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
        error.detail = common::gbkFromUtf8(std::strerror(errnum));
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
    const std::filesystem::path &temporary = files.controlTemporary;
    // The claim cleared a leftover of ours: a file there now is someone else's, and stays.
    const UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid())
        return common::unexpected(diskError(errno));
    if (!platform::writeAt(fd.get(), formatControl(record), 0) || ::fdatasync(fd.get()) != 0
        || ::rename(temporary.c_str(), files.control.c_str()) != 0) {
        const int errnum = errno;
        ::unlink(temporary.c_str());
        return common::unexpected(diskError(errnum));
    }
    return {};
}

common::Result<std::filesystem::path, DownloadError> publishPartFiles(PartFiles &files)
{
    std::filesystem::path target = files.target;
    for (int attempt = 0; attempt <= 99; ++attempt) {
        int done = ::renameat2(AT_FDCWD, files.part.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (done != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename: a hard link also never replaces.
            done = ::link(files.part.c_str(), target.c_str());
            if (done == 0)
                ::unlink(files.part.c_str());
        }
        if (done == 0) {
            ::unlink(files.control.c_str());
            files.fd = UniqueFd();
            return target;
        }
        if (errno != EEXIST)
            return common::unexpected(diskError(errno));
        target = target.parent_path() / nextName(target.filename().native());
    }
    return common::unexpected(nameRefused("同名的文件太多"));
}

void discardPartFiles(PartFiles &files)
{
    ::unlink(files.part.c_str());
    ::unlink(files.control.c_str());
    files.fd = UniqueFd();
}

} // namespace download
