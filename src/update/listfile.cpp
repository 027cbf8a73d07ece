#include "update/listfile.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace update {

std::filesystem::path pendingListPath(const std::filesystem::path &list)
{
    std::filesystem::path pending = list;
    pending += ".new";
    return pending;
}

bool replaceList(const std::filesystem::path &downloaded, const std::filesystem::path &list)
{
    const int fd = ::open(downloaded.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || std::rename(downloaded.c_str(), list.c_str()) != 0)
        return false;
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(list.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace update
