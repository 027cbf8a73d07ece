#include "update/listfile.h"

#include "catalog/loader.h"
#include "common/gbk.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace update {

namespace {

common::Unexpected<ListError> listFailure(ListError::Kind kind)
{
    return common::unexpected(ListError{kind,
        common::gbk(kind == ListError::Kind::NotAList ? "下载到的文件不是分类列表"
                                                      : "无法写入文件：新的列表无法替换原来的列表")});
}

} // namespace

std::filesystem::path pendingListPath(const std::filesystem::path &list)
{
    std::filesystem::path pending = list;
    pending += ".new";
    return pending;
}

common::Result<std::filesystem::path, std::string> clearPendingList(const std::filesystem::path &list)
{
    const std::filesystem::path folder = list.parent_path();
    if (const auto made = platform::makeFolders(folder); !made.has_value())
        return common::unexpected(common::gbk("无法建立文件夹 ") + platform::gbkPath(folder) + common::gbk("：")
            + common::gbkFromUtf8(made.error().describe()));
    const std::filesystem::path pending = pendingListPath(list);
    (void)platform::removeFile(pending); // one that stays makes the download take a numbered name
    return pending;
}

common::Result<void, ListError> isCategoryList(const std::filesystem::path &file, const catalog::Category &category)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return listFailure(ListError::Kind::NotAList);
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
    if (!read.has_value() || !(named || blank))
        return listFailure(ListError::Kind::NotAList);
    return {};
}

common::Result<void, ListError> replaceList(const std::filesystem::path &downloaded, const std::filesystem::path &list)
{
    const auto fd = platform::openForReading(downloaded);
    if (!fd.has_value() || !platform::syncData(fd->get()).has_value()
        || !platform::renameFile(downloaded, list, platform::Overwrite::Yes).has_value())
        return listFailure(ListError::Kind::NotReplaced);
    platform::syncFolder(list.parent_path()); // the rename itself reaches the disk with the folder
    return {};
}

} // namespace update
