#include "publish/publisher.h"

#include "catalog/loader.h"
#include "common/gbk.h"
#include "publish/outputlock.h"
#include "update/manifest.h"

#include <algorithm>
#include <tuple>

namespace publish {

using common::gbk;
using common::utf8FromGbk;

namespace {

const char *const FirstVersion = "1.0"; // what the program holds for a list it has no stored version of

std::filesystem::path pageFile(const std::filesystem::path &out)
{
    return out / "manifest.html";
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
ListOutcome listOutcome(const std::vector<SourceRecord> &records, const catalog::Category &category,
    const std::optional<std::string> &previousList, bool firstPublish)
{
    ListOutcome list;
    std::vector<catalog::CatalogItem> rows;
    for (const SourceRecord &record : records) {
        list.bytes += listLine(record, category);
        rows.push_back(rowOf(record, category));
    }
    list.records = records.size();
    if (firstPublish)
        return list;
    list.change = previousList == list.bytes ? Change::Unchanged : Change::Changed;
    const std::vector<catalog::CatalogItem> previousRows = catalog::parseCategory(previousList.value_or(""), category);
    list.added = missingFrom(rows, previousRows);
    list.removed = missingFrom(previousRows, rows);
    return list;
}

// The problems of a page that the program would not read back as planned; the checks of the sources and of the
// template leave none that are known, so this names what differs.
Problems readBackProblems(const PublishPlan &plan, const std::filesystem::path &src)
{
    Problems problems;
    const ManifestContent read = readManifest(plan.page);
    for (const catalog::Category &category : catalog::categories()) {
        const auto i = static_cast<std::size_t>(category.number - 1);
        if (read.entries[i] != plan.manifest.entries[i])
            problems.push_back({"--address", 0, "",
                {"the manifest page would not give back the entry of " + utf8FromGbk(category.name)
                        + ": its address would read \"" + utf8FromGbk(read.entries[i].address) + "\"",
                    "leave the manifest's labels out of the address"}});
    }
    if (read.notice != plan.manifest.notice)
        problems.push_back(
            {noticeSource(src).string(), 0, "notice", {"would read back as \"" + utf8FromGbk(read.notice) + "\"", ""}});
    if (read.advertisement != plan.manifest.advertisement)
        problems.push_back({advertisementSource(src).string(), 0, "advertisement",
            {"would read back as \"" + utf8FromGbk(read.advertisement) + "\"", ""}});
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
        const std::string lost = previous.page ? "gives no version of " + utf8FromGbk(category.name) : "is missing";
        return Problem{pageFile(out).string(), 0, "",
            {lost + ", while " + list + " is published, so the list's next version is unknown",
                "put back the manifest page of the last publish, or remove " + list + " to publish that list afresh"}};
    }
    return std::nullopt;
}

std::string changeText(const ListOutcome &list)
{
    switch (list.change) {
    case Change::First:
        return "first publish";
    case Change::Unchanged:
        return "unchanged";
    case Change::Changed:
        break;
    }
    if (list.added == 0 && list.removed == 0)
        return "changed: same records, new order";
    return "changed: " + std::to_string(list.added) + " added, " + std::to_string(list.removed) + " removed";
}

} // namespace

common::Result<PreviousPublish, Problem> readPreviousPublish(const std::filesystem::path &out)
{
    PreviousPublish previous;
    const std::filesystem::path page = pageFile(out);
    common::Result<std::optional<std::string>, std::string> pageText = readExisting(page);
    if (!pageText.has_value())
        return common::unexpected(Problem{page.string(), 0, "", {pageText.error(), ""}});
    previous.page = std::move(pageText.value());
    for (const catalog::Category &category : catalog::categories()) {
        const std::filesystem::path file = catalog::categoryFile(out, category);
        common::Result<std::optional<std::string>, std::string> list = readExisting(file);
        if (!list.has_value())
            return common::unexpected(Problem{file.string(), 0, "", {list.error(), ""}});
        previous.lists[static_cast<std::size_t>(category.number - 1)] = std::move(list.value());
    }
    if (const std::optional<Problem> lost = lostVersion(previous, out))
        return common::unexpected(*lost);
    return previous;
}

common::Result<PublishPlan, Problems> planPublish(const Sources &sources, const PreviousPublish &previous,
    std::string_view addressTemplate, const std::filesystem::path &src)
{
    const std::optional<ManifestContent> before
        = previous.page ? std::optional(readManifest(*previous.page)) : std::nullopt;
    PublishPlan plan;
    bool anyChanged = false;
    for (const catalog::Category &category : catalog::categories()) {
        const auto i = static_cast<std::size_t>(category.number - 1);
        common::Result<std::string, Flaw> address = listAddress(addressTemplate, category);
        if (!address.has_value())
            return common::unexpected(Problems{{"--address", 0, "", address.error()}});
        ListOutcome &list = plan.lists[i];
        list = listOutcome(sources.records[i], category, previous.lists[i], !before);
        const std::string &previousVersion = before ? before->entries[i].version : std::string();
        list.previousVersion = previousVersion.empty() ? FirstVersion : previousVersion;
        const bool changed = list.change == Change::Changed;
        anyChanged = anyChanged || changed;
        plan.manifest.entries[i]
            = {changed, changed ? nextVersion(list.previousVersion) : list.previousVersion, address.value()};
    }
    for (std::size_t i = 0; before && !anyChanged && i < plan.manifest.entries.size(); ++i)
        plan.manifest.entries[i].flag = before->entries[i].flag;
    plan.manifest.notice = sources.notice;
    plan.manifest.advertisement = sources.advertisement;
    plan.page = manifestPage(plan.manifest);
    if (Problems problems = readBackProblems(plan, src); !problems.empty())
        return common::unexpected(std::move(problems));
    return plan;
}

std::vector<FileChange> changedFiles(
    const PublishPlan &plan, const PreviousPublish &previous, const std::filesystem::path &out)
{
    std::vector<FileChange> changes;
    for (const catalog::Category &category : catalog::categories()) {
        const auto i = static_cast<std::size_t>(category.number - 1);
        if (previous.lists[i] != plan.lists[i].bytes)
            changes.push_back({catalog::categoryFile(out, category), plan.lists[i].bytes, previous.lists[i]});
    }
    if (previous.page != plan.page)
        changes.push_back({pageFile(out), plan.page, previous.page});
    return changes;
}

common::Result<PublishPlan, Problems> publishCatalog(
    const std::filesystem::path &src, const std::filesystem::path &out, std::string_view addressTemplate)
{
    Problems problems;
    const Sources sources = readSources(src, problems);
    if (const auto address = listAddress(addressTemplate, catalog::category(1)); !address.has_value())
        problems.push_back({"--address", 0, "", address.error()});
    if (!problems.empty())
        return common::unexpected(std::move(problems));
    // From here to the last rename OUT is this publish's alone; the lock goes, and with it any folder that
    // stayed empty, when the publish ends.
    const common::Result<OutputLock, std::string> lock = OutputLock::acquire(out);
    if (!lock.has_value())
        return common::unexpected(Problems{{out.string(), 0, "", {lock.error(), ""}}});
    const common::Result<PreviousPublish, Problem> previous = readPreviousPublish(out);
    if (!previous.has_value())
        return common::unexpected(Problems{previous.error()});
    common::Result<PublishPlan, Problems> plan = planPublish(sources, previous.value(), addressTemplate, src);
    if (!plan.has_value())
        return plan;
    const common::Result<std::size_t, std::string> written
        = replaceFiles(changedFiles(plan.value(), previous.value(), out));
    if (!written.has_value())
        return common::unexpected(Problems{{out.string(), 0, "", {written.error() + "; nothing was changed", ""}}});
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
        const std::size_t records = plan.lists[i].records;
        text += name + "\t" + std::to_string(records) + (records == 1 ? " record\t" : " records\t")
            + changeText(plan.lists[i]) + "\tversion " + utf8FromGbk(entry.version) + "\tflag "
            + (entry.flag ? "是" : "否") + "\n";
        if (entry.flag)
            flagged.push_back(name);
    }
    const std::optional<update::UpdateOffer> offer = update::checkVersions(
        [&plan](const std::string &label) {
            return update::readManifestField([&plan](const std::string &) { return plan.page; }, std::string(), label);
        },
        [&plan](int number) { return plan.lists[static_cast<std::size_t>(number - 1)].previousVersion; });
    text += "a program with the previous lists is offered: "
        + (offer ? utf8FromGbk(catalog::category(offer->category).name + " " + offer->remoteVersion) : "no update")
        + "\n";
    if (flagged.size() > 1)
        text += "note: " + std::to_string(flagged.size())
            + " lists are flagged, and the version check stops at the first flagged list in its order, so a program"
              " is offered only "
            + flagged.front() + "\n";
    return text;
}

} // namespace publish
