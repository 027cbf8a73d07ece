#include "catalog/loader.h"
#include "catalog/search.h"
#include "cli/commands.h"
#include "cli/records.h"
#include "common/gbk.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

using common::gbk;

namespace {

// The catalog rule read as plainly as it can be, sharing no code with the scans it checks: characters are
// walked from the start of the text, the text is split at every "(" that starts a character (a trailing empty
// piece dropped), a member is a record when it splits at ")" into exactly two parts, and a field is the text
// after the first occurrence of its key up to the next "-".
class PlainCatalog
{
public:
    explicit PlainCatalog(std::string_view file)
        : m_text(file.substr(0, std::min(file.find('\0'), file.size())))
    {
        for (std::size_t at = 0; at < m_text.size();) {
            m_starts.push_back(at);
            at += common::isLeadByte(static_cast<unsigned char>(m_text[at])) && at + 1 < m_text.size() ? 2 : 1;
        }
    }

    std::vector<catalog::CatalogItem> items(const catalog::Category &category) const
    {
        std::vector<catalog::CatalogItem> items;
        for (const auto &[start, end] : pieces(0, m_text.size(), '(')) {
            const auto parts = pieces(start, end, ')');
            if (parts.size() != 2)
                continue;
            const auto [bodyStart, bodyEnd] = parts.front();
            items.push_back({field(bodyStart, bodyEnd, category.nameKey), field(bodyStart, bodyEnd, category.sizeKey),
                field(bodyStart, bodyEnd, catalog::timeKey()), " " + field(bodyStart, bodyEnd, catalog::addressKey()),
                category.tag});
        }
        return items;
    }

private:
    using Span = std::pair<std::size_t, std::size_t>;

    // The character starts within [start, end).
    std::vector<std::size_t> startsIn(std::size_t start, std::size_t end) const
    {
        return std::vector<std::size_t>(std::lower_bound(m_starts.begin(), m_starts.end(), start),
            std::lower_bound(m_starts.begin(), m_starts.end(), end));
    }

    std::vector<Span> pieces(std::size_t start, std::size_t end, char delimiter) const
    {
        std::vector<Span> pieces;
        std::size_t pieceStart = start;
        for (const std::size_t at : startsIn(start, end)) {
            if (m_text[at] == delimiter) {
                pieces.emplace_back(pieceStart, at);
                pieceStart = at + 1;
            }
        }
        if (pieceStart < end)
            pieces.emplace_back(pieceStart, end);
        return pieces;
    }

    std::string field(std::size_t start, std::size_t end, std::string_view key) const
    {
        const std::vector<std::size_t> starts = startsIn(start, end);
        for (const std::size_t at : starts) {
            if (end - at < key.size() || m_text.compare(at, key.size(), key) != 0)
                continue;
            for (const std::size_t dash : starts) {
                if (dash >= at + key.size() && m_text[dash] == '-')
                    return std::string(m_text.substr(at + key.size(), dash - at - key.size()));
            }
            return {};
        }
        return {};
    }

    std::string_view m_text;
    std::vector<std::size_t> m_starts;
};

// A category list file of about `bytes` bytes: records, broken records, keys glued to lone lead bytes,
// parentheses and dashes that are second bytes of characters, now and then a member longer than a read, and
// for every fourth seed a zero byte that ends the text somewhere.
std::string hostileFile(std::mt19937 &random, const catalog::Category &category, std::size_t bytes)
{
    const std::vector<std::string> pieces{"(", "(", ")", ")\r\n", "-", "\n", category.nameKey, category.sizeKey,
        catalog::timeKey(), catalog::addressKey(), "Zip", "ip", "z", "\x81", "\x81(", "\x81)", "\x81-", "\xA3",
        gbk("工具"), gbk("："), "\t\\"};
    std::string file;
    while (file.size() < bytes) {
        const std::size_t pick = random() % (pieces.size() * 4);
        if (pick == 0 && random() % 8 == 0) {
            file += "(" + category.nameKey + std::string(130 * 1024 + random() % 1024, 'Z') + "-)\n";
        } else if (pick < pieces.size()) {
            file += pieces[pick];
        } else {
            file += "(" + category.nameKey + "Zip" + std::to_string(random() % 100) + "-" + catalog::addressKey()
                + "http://h/" + std::to_string(file.size()) + "-)\r\n";
        }
    }
    if (random() % 4 == 0)
        file[random() % file.size()] = '\0';
    return file;
}

// What the command-line companion prints for `arguments`, its output going to a file as it is made.
std::pair<int, std::string> runCli(const std::vector<std::string> &arguments)
{
    cli::Streams streams;
    streams.outFile = std::tmpfile();
    const int status = cli::run(arguments, streams);
    streams.flush();
    std::string out(static_cast<std::size_t>(std::ftell(streams.outFile)), '\0');
    std::rewind(streams.outFile);
    out.resize(std::fread(out.data(), 1, out.size(), streams.outFile));
    std::fclose(streams.outFile);
    return {status, out};
}

} // namespace

TEST(CliAgreement, ListAndSearchGiveWhatThePlainRuleGivesOnHostileFiles)
{
    // Files of several read stretches, so that stretch ends fall next to lead bytes, hidden parentheses and
    // long members; the companion's rows and hits, and the window's load and search, against the plain rule.
    TempDir home;
    for (unsigned seed = 0; seed < 12; ++seed) {
        std::mt19937 random(seed);
        std::vector<std::string> files;
        for (const catalog::Category &category : catalog::categories()) {
            files.push_back(hostileFile(random, category, (seed % 2 == 0 ? 300 : 140) * 1024 + random() % 4096));
            writeFile(catalog::categoryFile(home.path(), category), files.back());
        }
        const catalog::Category &listed = catalog::category(static_cast<int>(seed % 5) + 1);
        const std::vector<catalog::CatalogItem> rows = PlainCatalog(files[seed % 5]).items(listed);
        std::string printed;
        for (const catalog::CatalogItem &row : rows)
            printed += cli::utf8Record({row.name, row.size, row.time, row.address, row.tag});
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        ASSERT_EQ(catalog::loadCategory(home.path(), listed), rows);
        ASSERT_EQ(runCli({"--home", home.path().string(), "list", std::to_string(listed.number)}),
            std::make_pair(0, printed));

        for (const std::string &text : {std::string("Zip"), std::string("ip1"), gbk("工具")}) {
            std::vector<catalog::SearchHit> hits;
            for (const catalog::Category &category : catalog::categories()) {
                for (const catalog::CatalogItem &row : PlainCatalog(files[category.number - 1]).items(category)) {
                    if (catalog::nameMatches(row.name, text))
                        hits.push_back({category.searchIcon, row.name, row.address});
                }
            }
            std::string found;
            for (const catalog::SearchHit &hit : hits)
                found += cli::utf8Record({std::to_string(hit.icon), hit.name, hit.address});
            SCOPED_TRACE(common::utf8FromGbk(text));
            ASSERT_EQ(catalog::searchCatalog(home.path(), catalog::SearchCriterion(text)), hits);
            ASSERT_EQ(runCli({"--home", home.path().string(), "search", common::utf8FromGbk(text)}),
                std::make_pair(hits.empty() ? 1 : 0, found));
        }
    }
}
