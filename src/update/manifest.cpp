#include "update/manifest.h"

#include "catalog/category.h"
#include "common/gbk.h"
#include "download/conversions.h"
#include "download/fetch.h"

#include <cstdlib>

namespace update {

using common::gbk;

std::filesystem::path manifestPageFile(const std::filesystem::path &folder)
{
    return folder / ManifestPageName;
}

std::filesystem::path manifestSignatureFile(const std::filesystem::path &folder)
{
    return folder / ManifestSignatureName;
}

std::string manifestUrl()
{
    if (const char *overridden = std::getenv("KAVO_MANIFEST_URL"); overridden && *overridden)
        return overridden;
    return KAVO_MANIFEST_URL;
}

std::string readManifestField(const Fetcher &fetch, const std::string &url, std::string_view label)
{
    const std::string page = download::Utf8ToGb18030(fetch(url));
    return download::textBetween(common::untilZero(page), label, "-");
}

const std::array<int, 5> &checkOrder()
{
    static constexpr std::array<int, 5> order{5, 4, 3, 1, 2};
    return order;
}

std::string flagLabel(int category)
{
    return catalog::category(category).name + gbk("：");
}

std::string versionLabel(int category)
{
    return catalog::category(category).name + gbk("版本：");
}

std::string addressLabel(int category)
{
    return catalog::category(category).name + gbk("地址：");
}

std::string sizeLabel(int category)
{
    return catalog::category(category).name + gbk("大小：");
}

std::string checksumLabel(int category)
{
    return catalog::category(category).name + gbk("SHA256：");
}

const std::string &noticeLabel()
{
    static const std::string label = gbk("公告：");
    return label;
}

const std::string &advertisementLabel()
{
    static const std::string label = gbk("广告：");
    return label;
}

std::optional<UpdateOffer> checkVersions(const std::function<std::string(const std::string &label)> &field,
    const std::function<std::string(int category)> &localVersion)
{
    for (const int category : checkOrder()) {
        if (field(flagLabel(category)) != gbk("是"))
            continue;
        std::string remote = field(versionLabel(category));
        if (remote == localVersion(category))
            return std::nullopt;
        return UpdateOffer{category, std::move(remote)};
    }
    return std::nullopt;
}

} // namespace update
