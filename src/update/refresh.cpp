#include "update/refresh.h"

#include "catalog/category.h"
#include "common/gbk.h"
#include "download/downloaderror.h"
#include "download/sharepage.h"
#include "platform/files.h"
#include "settings/keys.h"
#include "update/listfile.h"
#include "update/newrecords.h"

namespace update {

using common::gbk;

const settings::SettingKey &versionSetting(int category)
{
    static const std::array<settings::SettingKey, catalog::CategoryCount> keys{settings::keys::SoftwareVersion,
        settings::keys::SourceVersion, settings::keys::ModuleVersion, settings::keys::TipsVersion,
        settings::keys::CommonVersion};
    return keys[static_cast<std::size_t>(category - 1)];
}

common::Result<std::string, std::string> resolveListLink(
    const std::string &page, int category, const download::Fetcher &fetch)
{
    std::string link = download::fetchDirectLink(pageField(page, addressLabel(category)), fetch);
    if (link.empty())
        return common::unexpected(download::describeDownloadError(
            {download::DownloadError::Kind::NoDirectLink, false, 0, gbk("分享页面中没有找到新列表的下载直链")}));
    return link;
}

download::TaskParam listTaskParam(const std::string &directLink, const std::filesystem::path &pending,
    const std::string &page, int category, const download::Fetcher &fetch, download::EventRoutine eventRoutine,
    const download::ProxySetting &proxy)
{
    const ListExpectation expected = listExpectation(page, category);
    download::TaskParam param = download::toolTaskParam(directLink, pending, std::move(eventRoutine));
    param.freshAddress = [page, category, fetch] {
        const auto link = resolveListLink(page, category, fetch);
        return link.has_value() ? link.value() : std::string();
    };
    param.maxBytes = expected.size.value_or(MaxListBytes);
    param.expectedSha256 = expected.sha256;
    param.proxy = proxy;
    return param;
}

common::Result<void, std::string> installList(const std::filesystem::path &downloaded,
    const std::filesystem::path &list, const catalog::Category &category, const ListExpectation &expected)
{
    const auto discard = [&downloaded](std::string reason) {
        (void)platform::removeFile(downloaded);
        return common::unexpected(std::move(reason));
    };
    // The download checks the hash as the bytes arrive; this second look costs a read of a small file and keeps
    // the rule in one place for every way a list can arrive.
    if (const auto matches = checkListFile(downloaded, expected); !matches.has_value())
        return discard(matches.error());
    if (const auto shape = isCategoryList(downloaded, category); !shape.has_value())
        return discard(shape.error().detail);
    // Marks what the new list brings while the old one is still in place; a failure leaves no marks.
    static_cast<void>(rememberNewRecords(list, downloaded, category));
    if (const auto replaced = replaceList(downloaded, list); !replaced.has_value())
        return discard(replaced.error().detail);
    return {};
}

} // namespace update
