#include "cli/searchhits.h"

#include "catalog/search.h"
#include "cli/records.h"

#include <atomic>

namespace cli {

std::optional<bool> writeHitsInFileOrder(const std::filesystem::path &listsDirectory, std::string_view gbkText,
    Streams &streams, const StretchLimits &limits, std::vector<catalog::ReadFailure> &failures)
{
    // Memory stays small however many hits there are: the hits leave a stretch at a time.
    const catalog::SearchCriterion criterion{std::string(gbkText)};
    std::atomic<bool> found{false};
    std::vector<StretchSource> sources;
    for (const catalog::Category &category : catalog::categories()) {
        const StretchWork writeHits = [&criterion, &found, icon = std::to_string(category.searchIcon) + "\t",
                                          &category](std::string_view stretch, std::string &out) {
            catalog::forEachHit(stretch, category, criterion, nullptr, [&out, &icon](const catalog::HitView &hit) {
                appendUtf8Record(out, {{icon, hit.name}, {"\t ", hit.address}}, "\n");
            });
            if (!out.empty())
                found.store(true, std::memory_order_relaxed);
        };
        sources.push_back({catalog::categoryFile(listsDirectory, category), writeHits});
    }
    std::vector<catalog::ReadFailure> unread = writeStretches(sources, streams, limits);
    if (streams.writeError != 0)
        return std::nullopt;
    failures.insert(failures.end(), unread.begin(), unread.end());
    return found.load();
}

} // namespace cli
