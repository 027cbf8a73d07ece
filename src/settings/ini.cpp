#include "settings/ini.h"

#include "common/gbk.h"

#include <vector>

namespace settings {

namespace {

using common::Case;

struct Line
{
    std::size_t begin = 0; // offset of the line in the content
    std::size_t end = 0; // offset just past its line break (or the end of the content)
    std::string_view text; // without the line break
};

std::vector<Line> splitLines(std::string_view content)
{
    std::vector<Line> lines;
    std::size_t at = 0;
    while (at < content.size()) {
        const std::size_t newline = content.find('\n', at);
        const std::size_t stop = newline == std::string_view::npos ? content.size() : newline;
        std::string_view text = content.substr(at, stop - at);
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        const std::size_t next = newline == std::string_view::npos ? content.size() : newline + 1;
        lines.push_back({at, next, text});
        at = next;
    }
    return lines;
}

// The section name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> sectionName(std::string_view line)
{
    line = common::trimName(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const std::string_view inside = line.substr(1);
    const long close = common::findText(inside, "]");
    const std::string_view name
        = close == common::NotFound ? inside : inside.substr(0, static_cast<std::size_t>(close - 1));
    return common::trimName(name);
}

struct KeyLine
{
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> keyLine(std::string_view line)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return KeyLine{common::trimName(line.substr(0, equals)), common::trimBlanks(line.substr(equals + 1))};
}

// Index range [first, last) of the lines that belong to the first section called `section`; first is the
// header line itself. Nothing when the section is missing.
std::optional<std::pair<std::size_t, std::size_t>> findSection(const std::vector<Line> &lines, std::string_view section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines[i].text);
        if (!name || !common::equalText(*name, section, Case::IgnoreAscii))
            continue;
        std::size_t last = i + 1;
        while (last < lines.size() && !sectionName(lines[last].text))
            ++last;
        return std::make_pair(i, last);
    }
    return std::nullopt;
}

std::optional<std::size_t> findKey(
    const std::vector<Line> &lines, std::pair<std::size_t, std::size_t> range, std::string_view key)
{
    for (std::size_t i = range.first + 1; i < range.second; ++i) {
        const auto entry = keyLine(lines[i].text);
        if (entry && common::equalText(entry->key, key, Case::IgnoreAscii))
            return i;
    }
    return std::nullopt;
}

// What ends the last line of `content` so that text can follow on a line of its own: nothing after a line feed,
// a line feed after a lone carriage return (which readers already take as the line's end), else CR LF.
std::string_view lineEndFor(std::string_view content)
{
    if (content.empty() || content.back() == '\n')
        return {};
    return content.back() == '\r' ? "\n" : "\r\n";
}

std::string flattenValue(std::string_view value)
{
    std::string flat(common::untilZero(value));
    for (char &c : flat) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return flat;
}

} // namespace

std::optional<std::string> iniLookup(std::string_view content, std::string_view section, std::string_view key)
{
    section = common::trimName(section);
    key = common::trimName(key);
    const std::vector<Line> lines = splitLines(content);
    const auto range = findSection(lines, section);
    if (!range)
        return std::nullopt;
    const auto index = findKey(lines, *range, key);
    if (!index)
        return std::nullopt;
    return std::string(common::untilZero(keyLine(lines[*index].text)->value));
}

std::string iniAssign(std::string_view content, std::string_view section, std::string_view key, std::string_view value)
{
    section = common::trimName(section);
    key = common::trimName(key);
    const std::string entry = std::string(key) + "=" + flattenValue(value) + "\r\n";
    const std::vector<Line> lines = splitLines(content);
    std::string out(content);
    const auto range = findSection(lines, section);
    if (!range)
        return out + std::string(lineEndFor(content)) + "[" + std::string(section) + "]\r\n" + entry;
    if (const auto index = findKey(lines, *range, key)) {
        const Line &line = lines[*index];
        return out.replace(line.begin, line.end - line.begin, entry);
    }
    // After the section's last non-blank line, so blank lines that separate sections stay where they are.
    std::size_t after = range->first;
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        if (!common::trimName(lines[i].text).empty())
            after = i;
    }
    const Line &anchor = lines[after];
    const std::string_view lineEnd = anchor.end == content.size() ? lineEndFor(content) : std::string_view();
    return out.insert(anchor.end, std::string(lineEnd) + entry);
}

} // namespace settings
