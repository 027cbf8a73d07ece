#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The manifest page: labelled fields that tell which category list is out of date and where its new version
// lies, plus the notice and the advertisement. Texts are GBK.
namespace update {

using Fetcher = std::function<std::string(const std::string &url)>;

// The file names of the manifest page and of its signature, where a publish writes them and where the program
// keeps its copies.
inline constexpr std::string_view ManifestPageName = "manifest.html";
inline constexpr std::string_view ManifestSignatureName = "manifest.html.minisig";

// The manifest page and its signature as files of `folder`. Pure.
std::filesystem::path manifestPageFile(const std::filesystem::path &folder);
std::filesystem::path manifestSignatureFile(const std::filesystem::path &folder);

// The manifest page address: KAVO_MANIFEST_URL when set, else the compiled-in one. Thread-safe.
std::string manifestUrl();

// A field: the page fetched anew, converted from UTF-8 to GB18030, and the text after the first `label` up to
// the next "-". Empty when the page, the label or the "-" is missing. Thread-safe when `fetch` is.
std::string readManifestField(const Fetcher &fetch, const std::string &url, std::string_view label);

// Categories in the order the version check visits them: 常用软件, 电脑技术, 模块下载, 软件下载, 源码下载.
const std::array<int, 5> &checkOrder();

std::string flagLabel(int category); // "常用软件："
std::string versionLabel(int category); // "常用软件版本："
std::string addressLabel(int category); // "常用软件地址："
std::string sizeLabel(int category); // "常用软件大小：", the list file's size in bytes
std::string checksumLabel(int category); // "常用软件SHA256：", the list file's SHA-256 as 64 hex digits
const std::string &noticeLabel(); // "公告："
const std::string &advertisementLabel(); // "广告："

struct UpdateOffer
{
    int category = 0;
    std::string remoteVersion;
};

// The version check: the first category in check order whose flag reads exactly "是" decides. Its remote
// version is compared byte for byte with the local one; a difference is an offer. No later category is looked
// at either way. `field` reads a manifest field, `localVersion` gives a category's local version.
std::optional<UpdateOffer> checkVersions(const std::function<std::string(const std::string &label)> &field,
    const std::function<std::string(int category)> &localVersion);

} // namespace update
