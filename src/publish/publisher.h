#pragma once

#include "catalog/category.h"
#include "common/result.h"
#include "publish/filebatch.h"
#include "publish/journal.h"
#include "publish/manifestpage.h"
#include "publish/sources.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Publishing a catalog: from the author's sources to the tree an author puts online, OUT/自动更新/<category>.txt
// (GBK, as the program reads them) and OUT/manifest.html. Thread-safe for distinct trees.
namespace signing {
struct SecretKey;
}

namespace publish {

// What OUT holds from the publish before.
struct PreviousPublish
{
    std::optional<std::string> page; // manifest.html; nothing: OUT holds no publish yet
    std::optional<std::string> signature; // manifest.html.minisig
    std::array<std::optional<std::string>, catalog::CategoryCount> lists; // by category number - 1
};

// How the author serves the tree, and whether the page is signed.
struct PublishOptions
{
    // --address: each list's share page lies at this address, "{category}" standing for the category's name.
    std::string addressTemplate;
    // --base: OUT itself is served at this address. The lists are written a second time under names that carry
    // their hash (lists/<category>.<hash>.txt), and share/<category>.html stands in for their share pages.
    std::string base;
    const signing::SecretKey *signingKey = nullptr; // --sign: manifest.html.minisig is written with it
    std::int64_t timestamp = 0; // Unix seconds for the signature's trusted comment
    StepHook step; // tests stop the publish between its steps through this
};

// Reads the manifest page and the lists that OUT holds; missing files are nothing, unreadable ones a problem.
common::Result<PreviousPublish, Problem> readPreviousPublish(const std::filesystem::path &out);

enum class Change
{
    First, // OUT held no publish
    Unchanged,
    Changed
};

struct ListOutcome
{
    std::string bytes; // the list file, GBK
    std::size_t records = 0;
    Change change = Change::First;
    std::size_t added = 0; // records that the previous list lacks
    std::size_t removed = 0; // records of the previous list that are gone
    std::string previousVersion; // what a program holding the previous list holds
    std::string sha256; // of `bytes`, 64 lower-case hex digits
};

struct PublishPlan
{
    std::array<ListOutcome, catalog::CategoryCount> lists; // by category number - 1
    ManifestContent manifest;
    std::string page; // manifest.html, UTF-8
    std::string signature; // manifest.html.minisig; empty when the publish is not signed
    std::array<std::string, catalog::CategoryCount> sharePages; // with --base: share/<category>.html
};

// What --base makes of a list: its file under its hashed name, and the address of its share page.
std::filesystem::path hashedListFile(
    const std::filesystem::path &out, const catalog::Category &category, std::string_view sha256);
std::filesystem::path sharePageFile(const std::filesystem::path &out, const catalog::Category &category);

// The lists and the manifest page for `sources`. A list whose bytes differ from the previous one (by the hash the
// previous page gives, else by the previous list file) is flagged "是"
// and gets the next version; the others keep their version and are flagged "否". When no list changed, the
// flags stay as they were, so a publish that only mends the notice does not withdraw an update that programs
// have not fetched yet. The first publish gives every list the version "1.0", which is what a program without
// stored versions holds, and no flag. Problems: an address template that cannot give the addresses ("--address"),
// and a page that the program would not read back (named after the source files under `src`).
common::Result<PublishPlan, Problems> planPublish(const Sources &sources, const PreviousPublish &previous,
    const PublishOptions &options, const std::filesystem::path &src);

// The files of `plan` that differ from what OUT holds: the lists, the share pages, the page, its signature.
std::vector<FileChange> changedFiles(
    const PublishPlan &plan, const PreviousPublish &previous, const std::filesystem::path &out);

// publish SRC OUT: reads and checks the sources, completes a publish that was killed in OUT, plans, writes the
// hashed lists (new names, which nothing refers to yet), then replaces the changed files through the journal,
// the page and its signature last. Lists that neither this page nor the previous one names are then removed.
// Nothing is written when there is any problem. A second publish into OUT while one runs is refused (a
// problem), since both would plan against the same earlier publish.
common::Result<PublishPlan, Problems> publishCatalog(
    const std::filesystem::path &src, const std::filesystem::path &out, const PublishOptions &options);
common::Result<PublishPlan, Problems> publishCatalog(
    const std::filesystem::path &src, const std::filesystem::path &out, std::string_view addressTemplate);

// For the author, UTF-8: one line per category in the version check's order (name, records, what changed,
// version, flag, separated by tabs), then what the version check offers a program that holds the previous
// lists.
std::string summary(const PublishPlan &plan);

} // namespace publish
