#pragma once

#include "common/result.h"
#include "download/sharepage.h"
#include "download/taskparam.h"
#include "update/channel.h"
#include "update/manifest.h"

#include <filesystem>
#include <string>

namespace catalog {
struct Category;
}
namespace settings {
struct SettingKey;
}

// The steps of one category list refresh that do not need a window: where the new list comes from, how it is
// downloaded, and what it must be before it replaces the old one. Texts are GBK. Thread-safe.
namespace update {

// The settings key ("更新", category name) that holds a category's local version.
const settings::SettingKey &versionSetting(int category);

// The direct link of a category's list: the address field of the accepted manifest page (UTF-8), its share page
// and the "&third=0" twin's direct link. The reason when there is none.
common::Result<std::string, std::string> resolveListLink(
    const std::string &page, int category, const download::Fetcher &fetch);

// The task that downloads a category's list beside the old one: the tool's settings, no more bytes than the page
// (UTF-8) announces (or a cap when it gives no size), the page's SHA-256 checked before the file takes its name,
// a direct link that expires in mid-download found again through the share page, and `proxy` for its requests.
download::TaskParam listTaskParam(const std::string &directLink, const std::filesystem::path &pending,
    const std::string &page, int category, const download::Fetcher &fetch, download::EventRoutine eventRoutine,
    const download::ProxySetting &proxy = {});

// The most a list download may bring when the page gives no size: far beyond any catalog, far short of a disk.
inline constexpr std::int64_t MaxListBytes = 64ll << 20;

// Checks a downloaded list against the page and against the shape of a category list, remembers the records it
// adds, then renames it over `list`. On any failure the download is removed, `list` is untouched, and the reason says
// why.
common::Result<void, std::string> installList(const std::filesystem::path &downloaded,
    const std::filesystem::path &list, const catalog::Category &category, const ListExpectation &expected);

} // namespace update
