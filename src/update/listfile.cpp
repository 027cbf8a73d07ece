#include "update/listfile.h"

#include "catalog/loader.h"
#include "platform/files.h"

namespace update {

std::filesystem::path pendingListPath(const std::filesystem::path &list)
{
    std::filesystem::path pending = list;
    pending += ".new";
    return pending;
}

bool isCategoryList(const std::filesystem::path &file, const catalog::Category &category)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return false;
    bool named = false;
    bool blank = true;
    int stretches = 0;
    const auto read = catalog::forEachStretch(file, [&](std::string_view stretch) {
        // Stretches are joined by "(", so a second one means the file is not blank.
        blank = blank && ++stretches == 1 && stretch.find_first_not_of(" \t\r\n") == std::string_view::npos;
        catalog::forEachItem(stretch, category,
            [&named](const catalog::ItemView &item) { named = named || !item.name.empty() || !item.address.empty(); });
        return !named;
    });
    return read.has_value() && (named || blank);
}

bool replaceList(const std::filesystem::path &downloaded, const std::filesystem::path &list)
{
    const auto fd = platform::openForReading(downloaded);
    if (!fd.has_value() || !platform::syncData(fd->get()).has_value()
        || !platform::renameFile(downloaded, list, platform::Overwrite::Yes).has_value())
        return false;
    platform::syncFolder(list.parent_path()); // the rename itself reaches the disk with the folder
    return true;
}

} // namespace update
