#pragma once

#include "catalog/category.h"
#include "common/result.h"
#include "publish/filebatch.h"
#include "publish/manifestpage.h"
#include "publish/sources.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Publishing a catalog: from the author's sources to the tree an author puts online, OUT/自动更新/<category>.txt
// (GBK, as the program reads them) and OUT/manifest.html. Thread-safe for distinct trees.
namespace publish {

// What OUT holds from the publish before.
struct PreviousPublish
{
    std::optional<std::string> page; // manifest.html; nothing: OUT holds no publish yet
    std::array<std::optional<std::string>, catalog::CategoryCount> lists; // by category number - 1
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
};

struct PublishPlan
{
    std::array<ListOutcome, catalog::CategoryCount> lists; // by category number - 1
    ManifestContent manifest;
    std::string page; // manifest.html, UTF-8
};

// The lists and the manifest page for `sources`. A list whose bytes differ from the previous one is flagged "是"
// and gets the next version; the others keep their version and are flagged "否". When no list changed, the
// flags stay as they were, so a publish that only mends the notice does not withdraw an update that programs
// have not fetched yet. The first publish gives every list the version "1.0", which is what a program without
// stored versions holds, and no flag. Problems: an address template that cannot give the addresses ("--address"),
// and a page that the program would not read back (named after the source files under `src`).
common::Result<PublishPlan, Problems> planPublish(const Sources &sources, const PreviousPublish &previous,
    std::string_view addressTemplate, const std::filesystem::path &src);

// The files of `plan` that differ from what OUT holds, the lists first and the page last.
std::vector<FileChange> changedFiles(
    const PublishPlan &plan, const PreviousPublish &previous, const std::filesystem::path &out);

// publish SRC OUT: reads and checks the sources, plans, and writes the changed files, so that a failure leaves
// OUT as it was. Nothing is written when there is any problem. A second publish into OUT while one runs is
// refused (a problem), since both would plan against the same earlier publish.
common::Result<PublishPlan, Problems> publishCatalog(
    const std::filesystem::path &src, const std::filesystem::path &out, std::string_view addressTemplate);

// For the author, UTF-8: one line per category in the version check's order (name, records, what changed,
// version, flag, separated by tabs), then what the version check offers a program that holds the previous
// lists.
std::string summary(const PublishPlan &plan);

} // namespace publish
