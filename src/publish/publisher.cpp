#include "publish/publisher.h"

#include "catalog/loader.h"
#include "common/gbk.h"
#include "common/sha256.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "publish/outputlock.h"
#include "signing/minisign.h"
#include "update/manifest.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace publish {

using common::gbk;
using common::utf8FromGbk;

namespace {

const char *const FirstVersion = "1.0"; // what the program holds for a list it has no stored version of

constexpr std::size_t HashNameDigits = 16; // of the SHA-256 in a hashed list's name

std::size_t indexOf(const catalog::Category &category)
{
    return static_cast<std::size_t>(category.number - 1);
}

// How many rows of `from` have no equal in `against`, duplicates counted.
std::size_t missingFrom(std::vector<catalog::CatalogItem> from, std::vector<catalog::CatalogItem> against)
{
    const auto before = [](const catalog::CatalogItem &a, const catalog::CatalogItem &b) {
        return std::tie(a.name, a.size, a.time, a.address, a.tag) < std::tie(b.name, b.size, b.time, b.address, b.tag);
    };
    std::sort(from.begin(), from.end(), before);
    std::sort(against.begin(), against.end(), before);
    std::vector<catalog::CatalogItem> missing;
    std::set_difference(from.begin(), from.end(), against.begin(), against.end(), std::back_inserter(missing), before);
    return missing.size();
}

// The list of one category against the one published before it.
// The hash that the previous page gives for the list is what programs check their download against, so it, not
// the list file beside the page, tells whether the list changed: a file replaced outside a publish must not make
// a changed list look unchanged.
ListOutcome listOutcome(const std::vector<SourceRecord> &records, const catalog::Category &category,
    const std::optional<std::string> &previousList, const std::optional<ManifestEntry> &previousEntry)
{
    ListOutcome list;
    std::vector<catalog::CatalogItem> rows;
    for (const SourceRecord &record : records) {
        list.bytes += listLine(record, category);
        rows.push_back(rowOf(record, category));
    }
    list.records = records.size();
    list.sha256 = common::toHex(common::sha256(list.bytes));
    if (!previousEntry)
        return list;
    const bool same = previousEntry->sha256.empty() ? previousList == list.bytes : previousEntry->sha256 == list.sha256;
    list.change = same ? Change::Unchanged : Change::Changed;
    const std::vector<catalog::CatalogItem> previousRows = catalog::parseCategory(previousList.value_or(""), category);
    list.added = missingFrom(rows, previousRows);
    list.removed = missingFrom(previousRows, rows);
    return list;
}

std::string baseWithoutSlash(std::string_view base)
{
    while (base.ends_with('/'))
        base.remove_suffix(1);
    return std::string(base);
}

// The address template of the lists: the author's, or with --base the share pages that the publish writes,
// each named with its list's version so that a cache never pairs a new page with an old share page.
std::string addressTemplateOf(const PublishOptions &options, const ListOutcome &list)
{
    if (options.base.empty())
        return options.addressTemplate;
    return baseWithoutSlash(options.base) + "/share/{category}.html?v=" + list.sha256.substr(0, HashNameDigits);
}

const char *optionName(const PublishOptions &options)
{
    return options.base.empty() ? "--address" : "--base";
}

// A stand-in for a netdisk share page, as a static file: the description element that the first page carries
// and the escaped direct link of the "&third=0" page (a static host ignores the query), pointing at the list
// under its hashed name.
std::string sharePage(
    const catalog::Category &category, const ListOutcome &list, const std::string &version, const std::string &base)
{
    const common::Result<std::string, Flaw> link = listAddress(
        baseWithoutSlash(base) + "/lists/{category}." + list.sha256.substr(0, HashNameDigits) + ".txt", category);
    const std::string name = utf8FromGbk(category.name) + ".txt";
    const std::string escaped = common::replaceAll(link.has_value() ? link.value() : std::string(), "/", "\\\\/");
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<meta content=\"文件名:" + name
        + " 文件大小:" + std::to_string(list.bytes.size()) + "B 分享者:kavo 分享时间:版本" + utf8FromGbk(version)
        + " 下载次数:0\" name=\"description\">\n<title>" + name
        + "</title>\n<script>var yunData = {\"file_list\":\"[{\\\"server_filename\\\":\\\"" + name
        + "\\\",\\\"dlink\\\":\\\"" + escaped + "\\\"}]\"};</script>\n</head>\n<body></body>\n</html>\n";
}

// The timestamp of the signature that OUT holds, so that a new one is never older: programs refuse a page
// signed before the last one they accepted, and a clock set back must not make the next publish look like one.
std::int64_t previousTimestamp(const PreviousPublish &previous)
{
    constexpr std::string_view Prefix = "\ntrusted comment: "; // not the end of "untrusted comment: "
    const std::string &text = previous.signature.value_or("");
    const std::size_t at = text.find(Prefix);
    if (at == std::string::npos)
        return 0;
    const std::size_t end = text.find('\n', at);
    const std::string comment
        = text.substr(at + Prefix.size(), end == std::string::npos ? end : end - at - Prefix.size());
    return signing::trustedTimestamp(comment).value_or(0);
}

// An unsigned publish that changes the page would leave the signature of the page before beside it, which every
// program that trusts the author's key refuses.
std::optional<Problem> staleSignature(
    const PublishPlan &plan, const PreviousPublish &previous, const PublishOptions &options)
{
    if (options.signingKey || !previous.signature || previous.page == plan.page)
        return std::nullopt;
    return Problem{"--sign", 0, "",
        {Flaw::Kind::StaleSignature, "manifest.html.minisig 是之前一次发布的页面的签名，与新的页面不符",
            "请加上 --sign KEY 发布，或者删除 manifest.html.minisig 后不签名发布"}};
}

// The lists under their hashed names that OUT does not hold yet.
std::vector<FileChange> newHashedLists(const PublishPlan &plan, const std::filesystem::path &out)
{
    std::vector<FileChange> files;
    for (const catalog::Category &category : catalog::categories()) {
        const ListOutcome &list = plan.lists[indexOf(category)];
        const std::filesystem::path file = hashedListFile(out, category, list.sha256);
        const common::Result<std::optional<std::string>, PublishError> before = readExisting(file);
        if (!before.has_value() || before.value() != list.bytes)
            files.push_back({file, list.bytes, before.has_value() ? before.value() : std::nullopt});
    }
    return files;
}

// "<category>.<16 hex digits>.txt", the only files in lists/ that a publish removes.
bool isHashedListName(const std::string &name)
{
    for (const catalog::Category &category : catalog::categories()) {
        const std::string prefix = platform::nativePath(category.name).string() + ".";
        if (name.size() != prefix.size() + HashNameDigits + 4 || !name.starts_with(prefix) || !name.ends_with(".txt"))
            continue;
        const std::string_view digits = std::string_view(name).substr(prefix.size(), HashNameDigits);
        if (digits.find_first_not_of("0123456789abcdef") == std::string_view::npos)
            return true;
    }
    return false;
}

// Hashed lists stay one publish longer than the page that named them, for programs and caches that still hold
// that page; older ones go.
void removeOldLists(const std::filesystem::path &out, const PublishPlan &plan, const PreviousPublish &previous)
{
    std::set<std::filesystem::path> kept;
    const std::optional<ManifestContent> before
        = previous.page ? std::optional(readManifest(*previous.page)) : std::nullopt;
    for (const catalog::Category &category : catalog::categories()) {
        kept.insert(hashedListFile(out, category, plan.lists[indexOf(category)].sha256));
        if (before && !before->entries[indexOf(category)].sha256.empty())
            kept.insert(hashedListFile(out, category, before->entries[indexOf(category)].sha256));
    }
    std::error_code error;
    if (std::filesystem::is_symlink(out / "lists", error))
        return; // a folder of someone else's, not ours to clear
    // The publish is complete without this clean-up: a list that stays is only a file too many, which the next
    // publish tries again to remove.
    for (auto entry = std::filesystem::directory_iterator(out / "lists", error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::error_code ignored;
        if (!kept.contains(entry->path()) && isHashedListName(entry->path().filename().string())
            && entry->is_regular_file(ignored))
            (void)platform::removeFile(entry->path());
    }
}

// The problems of a page that the program would not read back as planned; the checks of the sources and of the
// template leave none that are known, so this names what differs.
Problems readBackProblems(const PublishPlan &plan, const std::filesystem::path &src, const char *option)
{
    Problems problems;
    const ManifestContent read = readManifest(plan.page);
    for (const catalog::Category &category : catalog::categories()) {
        const auto i = static_cast<std::size_t>(category.number - 1);
        if (read.entries[i] != plan.manifest.entries[i])
            problems.push_back({option, 0, "",
                {Flaw::Kind::EntryNotReadBack,
                    "更新清单页面无法还原 " + utf8FromGbk(category.name) + " 的条目：它的地址会读成 \""
                        + utf8FromGbk(read.entries[i].address) + "\"",
                    "地址中不要写更新清单的标签"}});
    }
    if (read.notice != plan.manifest.notice)
        problems.push_back({noticeSource(src).string(), 0, NoticeField, readsBackAs(read.notice)});
    if (read.advertisement != plan.manifest.advertisement)
        problems.push_back({advertisementSource(src).string(), 0, AdvertisementField, readsBackAs(read.advertisement)});
    return problems;
}

// A published list whose version the page no longer gives (the page deleted or edited by hand): starting it
// again at the first version would repeat a version that programs hold for an older list.
std::optional<Problem> lostVersion(const PreviousPublish &previous, const std::filesystem::path &out)
{
    const ManifestContent before = previous.page ? readManifest(*previous.page) : ManifestContent();
    for (const catalog::Category &category : catalog::categories()) {
        const auto i = static_cast<std::size_t>(category.number - 1);
        if (!previous.lists[i] || !before.entries[i].version.empty())
            continue;
        const std::string list = catalog::categoryFile(out, category).string();
        const std::string lost = previous.page ? "没有给出 " + utf8FromGbk(category.name) + " 的版本" : "不存在";
        return Problem{update::manifestPageFile(out).string(), 0, "",
            {Flaw::Kind::VersionLost, lost + "，而 " + list + " 已经发布，因此无法确定这个列表的下一个版本",
                "请放回上次发布的更新清单页面，或者删除 " + list + " 以重新发布这个列表"}};
    }
    return std::nullopt;
}

std::string changeText(const ListOutcome &list)
{
    switch (list.change) {
    case Change::First:
        return "首次发布";
    case Change::Unchanged:
        return "没有变化";
    case Change::Changed:
        break;
    }
    if (list.added == 0 && list.removed == 0)
        return "有变化：记录相同，顺序不同";
    return "有变化：增加 " + std::to_string(list.added) + " 条，删除 " + std::to_string(list.removed) + " 条";
}

} // namespace

common::Result<PreviousPublish, Problem> readPreviousPublish(const std::filesystem::path &out)
{
    PreviousPublish previous;
    const std::filesystem::path page = update::manifestPageFile(out);
    common::Result<std::optional<std::string>, PublishError> pageText = readExisting(page);
    if (!pageText.has_value())
        return common::unexpected(problemOf(pageText.error()));
    previous.page = std::move(pageText.value());
    common::Result<std::optional<std::string>, PublishError> signature
        = readExisting(update::manifestSignatureFile(out));
    if (!signature.has_value())
        return common::unexpected(problemOf(signature.error()));
    previous.signature = std::move(signature.value());
    for (const catalog::Category &category : catalog::categories()) {
        const std::filesystem::path file = catalog::categoryFile(out, category);
        common::Result<std::optional<std::string>, PublishError> list = readExisting(file);
        if (!list.has_value())
            return common::unexpected(problemOf(list.error()));
        previous.lists[static_cast<std::size_t>(category.number - 1)] = std::move(list.value());
    }
    if (const std::optional<Problem> lost = lostVersion(previous, out))
        return common::unexpected(*lost);
    return previous;
}

common::Result<PublishPlan, Problems> planPublish(const Sources &sources, const PreviousPublish &previous,
    const PublishOptions &options, const std::filesystem::path &src)
{
    const std::optional<ManifestContent> before
        = previous.page ? std::optional(readManifest(*previous.page)) : std::nullopt;
    PublishPlan plan;
    bool anyChanged = false;
    for (const catalog::Category &category : catalog::categories()) {
        const std::size_t i = indexOf(category);
        ListOutcome &list = plan.lists[i];
        list = listOutcome(
            sources.records[i], category, previous.lists[i], before ? std::optional(before->entries[i]) : std::nullopt);
        common::Result<std::string, Flaw> address = listAddress(addressTemplateOf(options, list), category);
        if (!address.has_value())
            return common::unexpected(Problems{{optionName(options), 0, "", address.error()}});
        const std::string &previousVersion = before ? before->entries[i].version : std::string();
        list.previousVersion = previousVersion.empty() ? FirstVersion : previousVersion;
        const bool changed = list.change == Change::Changed;
        anyChanged = anyChanged || changed;
        plan.manifest.entries[i] = {changed, changed ? nextVersion(list.previousVersion) : list.previousVersion,
            address.value(), std::to_string(list.bytes.size()), list.sha256};
        if (!options.base.empty())
            plan.sharePages[i] = sharePage(category, list, plan.manifest.entries[i].version, options.base);
    }
    for (std::size_t i = 0; before && !anyChanged && i < plan.manifest.entries.size(); ++i)
        plan.manifest.entries[i].flag = before->entries[i].flag;
    plan.manifest.notice = sources.notice;
    plan.manifest.advertisement = sources.advertisement;
    plan.page = manifestPage(plan.manifest);
    if (Problems problems = readBackProblems(plan, src, optionName(options)); !problems.empty())
        return common::unexpected(std::move(problems));
    if (std::optional<Problem> stale = staleSignature(plan, previous, options))
        return common::unexpected(Problems{*stale});
    if (options.signingKey && (plan.page != previous.page || !previous.signature))
        plan.signature = signing::sign(*options.signingKey, plan.page,
            signing::trustedComment(
                std::max(options.timestamp, previousTimestamp(previous) + 1), update::ManifestPageName));
    else
        plan.signature = previous.signature.value_or("");
    return plan;
}

std::filesystem::path hashedListFile(
    const std::filesystem::path &out, const catalog::Category &category, std::string_view sha256)
{
    return out / "lists"
        / platform::nativePath(category.name + "." + std::string(sha256.substr(0, HashNameDigits)) + ".txt");
}

std::filesystem::path sharePageFile(const std::filesystem::path &out, const catalog::Category &category)
{
    return out / "share" / platform::nativePath(category.name + ".html");
}

std::vector<FileChange> changedFiles(
    const PublishPlan &plan, const PreviousPublish &previous, const std::filesystem::path &out)
{
    std::vector<FileChange> changes;
    for (const catalog::Category &category : catalog::categories()) {
        const std::size_t i = indexOf(category);
        if (previous.lists[i] != plan.lists[i].bytes)
            changes.push_back({catalog::categoryFile(out, category), plan.lists[i].bytes, previous.lists[i]});
    }
    for (const catalog::Category &category : catalog::categories()) {
        const std::string &page = plan.sharePages[indexOf(category)];
        const std::filesystem::path file = sharePageFile(out, category);
        const common::Result<std::optional<std::string>, PublishError> before = readExisting(file);
        if (!page.empty() && (!before.has_value() || before.value() != page))
            changes.push_back({file, page, before.has_value() ? before.value() : std::nullopt});
    }
    if (previous.page != plan.page)
        changes.push_back({update::manifestPageFile(out), plan.page, previous.page});
    if (!plan.signature.empty() && previous.signature != plan.signature)
        changes.push_back({update::manifestSignatureFile(out), plan.signature, previous.signature});
    return changes;
}

common::Result<PublishPlan, Problems> publishCatalog(
    const std::filesystem::path &src, const std::filesystem::path &out, std::string_view addressTemplate)
{
    PublishOptions options;
    options.addressTemplate = addressTemplate;
    return publishCatalog(src, out, options);
}

common::Result<PublishPlan, Problems> publishCatalog(
    const std::filesystem::path &src, const std::filesystem::path &out, const PublishOptions &options)
{
    Problems problems;
    const Sources sources = readSources(src, problems);
    if (const auto address = listAddress(addressTemplateOf(options, {}), catalog::category(1)); !address.has_value())
        problems.push_back({optionName(options), 0, "", address.error()});
    else if (options.base.find_first_of("\"'<>?#\\{}|^`") != std::string::npos)
        problems.push_back({"--base", 0, "",
            {Flaw::Kind::BadBase, "含有会结束地址或破坏写入它的页面的字符（\" ' < > ? # \\ { } | ^ `）",
                "只写这个文件夹的地址，例如 https://lists.example/kavo"}});
    if (!problems.empty())
        return common::unexpected(std::move(problems));
    // From here to the last rename OUT is this publish's alone; the lock goes, and with it any folder that
    // stayed empty, when the publish ends.
    const common::Result<OutputLock, PublishError> lock = OutputLock::acquire(out);
    if (!lock.has_value())
        return common::unexpected(Problems{problemOf(lock.error())});
    if (const auto recovered = recoverPublish(out); !recovered.has_value())
        return common::unexpected(Problems{problemOf(recovered.error())});
    const common::Result<PreviousPublish, Problem> previous = readPreviousPublish(out);
    if (!previous.has_value())
        return common::unexpected(Problems{previous.error()});
    common::Result<PublishPlan, Problems> plan = planPublish(sources, previous.value(), options, src);
    if (!plan.has_value())
        return plan;
    if (!options.base.empty()) {
        if (options.step)
            options.step("hashed lists");
        const auto written = replaceFiles(newHashedLists(plan.value(), out));
        if (!written.has_value())
            return common::unexpected(Problems{problemOf(written.error())});
    }
    const common::Result<std::size_t, PublishError> committed
        = commitChanges(out, changedFiles(plan.value(), previous.value(), out), options.step);
    if (!committed.has_value())
        return common::unexpected(Problems{problemOf(committed.error())});
    if (!options.base.empty())
        removeOldLists(out, plan.value(), previous.value());
    return plan;
}

std::string summary(const PublishPlan &plan)
{
    std::string text;
    std::vector<std::string> flagged;
    for (const int number : update::checkOrder()) {
        const auto i = static_cast<std::size_t>(number - 1);
        const ManifestEntry &entry = plan.manifest.entries[i];
        const std::string name = utf8FromGbk(catalog::category(number).name);
        text += name + "\t" + std::to_string(plan.lists[i].records) + " 条记录\t" + changeText(plan.lists[i])
            + "\t版本 " + utf8FromGbk(entry.version) + "\t更新标记 " + (entry.flag ? "是" : "否") + "\n";
        if (entry.flag)
            flagged.push_back(name);
    }
    const std::optional<update::UpdateOffer> offer = update::checkVersions(
        [&plan](const std::string &label) {
            return update::readManifestField([&plan](const std::string &) { return plan.page; }, std::string(), label);
        },
        [&plan](int number) { return plan.lists[static_cast<std::size_t>(number - 1)].previousVersion; });
    text += "持有上次列表的程序会收到的更新："
        + (offer ? utf8FromGbk(catalog::category(offer->category).name + " " + offer->remoteVersion) : "无") + "\n";
    if (flagged.size() > 1)
        text += "注意：有 " + std::to_string(flagged.size())
            + " 个列表带有更新标记，而版本检查按它的顺序在第一个带标记的列表处停下，所以程序只会收到 " + flagged.front()
            + " 的更新\n";
    return text;
}

} // namespace publish
