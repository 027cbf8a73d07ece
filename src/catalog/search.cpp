#include "catalog/search.h"

#include "catalog/loader.h"
#include "common/gbk.h"

namespace catalog {

bool nameMatches(std::string_view name, std::string_view text)
{
    if (text.empty())
        return !name.empty();
    // The last occurrence on a character boundary exists exactly when a first one does, and the first is found
    // by jumping between occurrences instead of comparing at every character.
    return common::findText(name, text) != common::NotFound;
}

SearchCriterion::SearchCriterion(std::string gbkText)
    : m_text(std::move(gbkText))
{
}

void SearchCriterion::set(std::string gbkText)
{
    {
        const std::lock_guard lock(m_mutex);
        m_text = std::move(gbkText);
    }
    m_version.fetch_add(1, std::memory_order_acq_rel);
}

std::string SearchCriterion::text() const
{
    const std::lock_guard lock(m_mutex);
    return m_text;
}

namespace {

// The criterion as one search sees it: refreshed only when its version moves.
class CriterionView
{
public:
    explicit CriterionView(const SearchCriterion &criterion)
        : m_criterion(criterion)
    {
        refresh();
    }
    const std::string &current()
    {
        if (m_criterion.version() != m_version)
            refresh();
        return m_text;
    }

private:
    void refresh()
    {
        m_version = m_criterion.version();
        m_text = m_criterion.text();
    }
    const SearchCriterion &m_criterion;
    std::uint64_t m_version = 0;
    std::string m_text;
};

} // namespace

namespace {

constexpr auto npos = std::string_view::npos;

bool stopped(const std::atomic<bool> *stop)
{
    return stop && stop->load(std::memory_order_relaxed);
}

// Start of the member that holds byte `at`: just past the last "(" on a character boundary before it, or 0.
std::size_t memberStartBefore(std::string_view text, std::size_t at)
{
    for (std::size_t from = at; from > 0;) {
        const std::size_t p = text.rfind('(', from - 1);
        if (p == npos)
            return 0;
        if (common::isCharBoundary(text, p))
            return p + 1;
        from = p;
    }
    return 0;
}

// The next "(" on a character boundary at or after `from`, or the end of the text.
std::size_t memberEndFrom(std::string_view text, std::size_t from)
{
    return std::min(common::findByte(text, '(', from), text.size());
}

void examineMember(std::string_view member, const Category &category, std::string_view text,
    const std::function<void(const HitView &)> &visit)
{
    const std::optional<std::string_view> body = recordBody(member);
    if (!body)
        return;
    const ItemView item = viewFromBody(*body, category);
    if (nameMatches(item.name, text))
        visit({item.name, item.address});
}

// The result row of a hit: the category's icon, the name, and the address column with its leading blank.
SearchHit resultRow(const Category &category, const HitView &hit)
{
    return {category.searchIcon, std::string(hit.name), " " + std::string(hit.address)};
}

} // namespace

void forEachHit(std::string_view fileBytes, const Category &category, const SearchCriterion &criterion,
    const std::atomic<bool> *stop, const std::function<void(const HitView &)> &visit)
{
    // Members are the pieces between "(" delimiters, as the loader splits them. A name lies inside its record,
    // so with a non-empty text only members that hold an occurrence of it need a look: the search jumps from
    // one occurrence to the next. `at` is always the start of the first member not yet examined, so a text
    // that changes midway applies from there on.
    const std::string_view file = common::untilZero(fileBytes);
    CriterionView view(criterion);
    std::size_t at = 0;
    while (!stopped(stop)) {
        const std::string &text = view.current();
        std::size_t memberStart = at;
        if (!text.empty()) {
            const std::size_t occurrence = file.find(text, at);
            if (occurrence == npos)
                break;
            memberStart = std::max(at, memberStartBefore(file, occurrence));
        }
        const std::size_t memberEnd = memberEndFrom(file, memberStart);
        examineMember(file.substr(memberStart, memberEnd - memberStart), category, text, visit);
        if (memberEnd >= file.size())
            break;
        at = memberEnd + 1;
    }
}

std::vector<SearchHit> searchCategory(std::string_view fileBytes, const Category &category,
    const SearchCriterion &criterion, const std::atomic<bool> *stop)
{
    std::vector<SearchHit> hits;
    forEachHit(fileBytes, category, criterion, stop,
        [&hits, &category](const HitView &hit) { hits.push_back(resultRow(category, hit)); });
    return hits;
}

void searchCatalog(const std::filesystem::path &programDirectory, const SearchCriterion &criterion,
    const std::atomic<bool> *stop, const std::function<void(std::vector<SearchHit> hits)> &take)
{
    for (const Category &category : categories()) {
        if (stopped(stop))
            return;
        // The window shows no message of its own for a file it cannot read: it adds no hits.
        static_cast<void>(forEachStretch(categoryFile(programDirectory, category), [&](std::string_view stretch) {
            std::vector<SearchHit> hits = searchCategory(stretch, category, criterion, stop);
            if (!hits.empty())
                take(std::move(hits));
            return !stopped(stop);
        }));
    }
}

std::vector<SearchHit> searchCatalog(
    const std::filesystem::path &programDirectory, const SearchCriterion &criterion, const std::atomic<bool> *stop)
{
    std::vector<SearchHit> all;
    searchCatalog(programDirectory, criterion, stop, [&all](std::vector<SearchHit> hits) {
        all.insert(all.end(), std::make_move_iterator(hits.begin()), std::make_move_iterator(hits.end()));
    });
    return all;
}

} // namespace catalog
