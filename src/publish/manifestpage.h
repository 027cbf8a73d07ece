#pragma once

#include "catalog/category.h"
#include "common/result.h"
#include "publish/readback.h"

#include <array>
#include <string>
#include <string_view>

// The manifest page an author puts online: what it says about each category, as the program's manifest read
// finds it. Pure; thread-safe.
namespace publish {

// What the page says about one category. GBK.
struct ManifestEntry
{
    bool flag = false; // "是", the only flag the version check counts; else "否"
    std::string version;
    std::string address; // as the list refresh uses it
    std::string size; // the list file's size in bytes, decimal; empty on a page that does not give it
    std::string sha256; // the list file's SHA-256, 64 lower-case hex digits; empty likewise

    bool operator==(const ManifestEntry &) const = default;
};

struct ManifestContent
{
    std::array<ManifestEntry, catalog::CategoryCount> entries; // by category number - 1
    std::string notice; // GBK
    std::string advertisement; // GBK

    bool operator==(const ManifestContent &) const = default;
};

// The page, UTF-8 HTML: per category, in the version check's order, its flag, version, address, and the list's
// size and SHA-256 when known (labels that older programs never look for), then the
// notice and the advertisement, each as its label, the value and a "-". An "&" in an address is written "&amp;",
// which the list refresh turns back into "&". The values must hold no "-"; the notice no "广告：".
std::string manifestPage(const ManifestContent &content);

// The content as the program reads it from `page` (UTF-8, as served): each field through the manifest read,
// "&amp;" in an address made "&", a flag true only when it reads "是".
ManifestContent readManifest(const std::string &page);

// The version after `version`: its last run of digits counted up by one ("1.9" gives "1.10"), or ".1" appended
// when it has no digit. Never holds a "-" that `version` did not.
std::string nextVersion(std::string_view version);

// The address of a category's list, GBK: `addressTemplate` (UTF-8) with every "{category}" replaced by the
// category's name, percent-encoded as UTF-8 because the program puts the address on the wire as it stands.
// A flaw when the template has no "{category}", holds a "-" (the manifest read would cut the address there) or
// has no GBK form.
common::Result<std::string, Flaw> listAddress(std::string_view addressTemplate, const catalog::Category &category);

} // namespace publish
