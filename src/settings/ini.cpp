#include "settings/ini.h"

#include "common/gbk.h"

namespace settings {

namespace {

using common::Case;

struct Line
{
    std::size_t begin = 0; // offset of the line in the content
    std::size_t end = 0; // offset just past its line break (or the end of the content)
    std::string_view text; // without the line break
};

// The line of `content` that starts at `at` (which is below the content's size).
Line lineAt(std::string_view content, std::size_t at)
{
    const std::size_t newline = content.find('\n', at);
    const std::size_t stop = newline == std::string_view::npos ? content.size() : newline;
    std::string_view text = content.substr(at, stop - at);
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    return {at, newline == std::string_view::npos ? content.size() : newline + 1, text};
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

// Where the first section called `section` and the first key called `key` in it lie, found in one pass over
// the lines.
struct Place
{
    std::optional<Line> header; // the section's "[name]" line
    std::optional<Line> entry; // the key's line
    Line lastFilled; // the section's last non-blank line (the header when it has none), when the key is missing
};

Place locate(std::string_view content, std::string_view section, std::string_view key)
{
    Place place;
    for (std::size_t at = 0; at < content.size();) {
        const Line line = lineAt(content, at);
        at = line.end;
        if (const auto name = sectionName(line.text)) {
            if (place.header)
                break; // the section has ended
            if (common::equalText(*name, section, Case::IgnoreAscii))
                place.header = place.lastFilled = line;
            continue;
        }
        if (!place.header)
            continue;
        const auto entry = keyLine(line.text);
        if (entry && common::equalText(entry->key, key, Case::IgnoreAscii)) {
            place.entry = line;
            break;
        }
        if (!common::trimName(line.text).empty())
            place.lastFilled = line;
    }
    return place;
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
    return common::oneLine(common::untilZero(value));
}

} // namespace

std::optional<std::string_view> nameProblem(std::string_view name, NameKind kind)
{
    if (name.empty())
        return "是空的";
    if (common::trimName(name).size() != name.size())
        return "首尾有空白，读回时会丢掉";
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return "含有换行或零字节";
    if (kind == NameKind::Key && name.find('=') != std::string_view::npos)
        return "含有 \"=\"，它会结束键名";
    if (kind == NameKind::Key && name.front() == '[')
        return "以 \"[\" 开头，它会开始一个节";
    if (kind == NameKind::Section && common::findByte(name, ']') != std::string_view::npos)
        return "含有 \"]\"，它会结束节名";
    if (kind == NameKind::Section && !common::isCharBoundary(name, name.size()))
        return "以半个双字节字符结尾";
    return std::nullopt;
}

std::optional<std::string> iniLookup(std::string_view content, std::string_view section, std::string_view key)
{
    const Place place = locate(content, common::trimName(section), common::trimName(key));
    if (!place.entry)
        return std::nullopt;
    return std::string(common::untilZero(keyLine(place.entry->text)->value));
}

std::string iniAssign(std::string_view content, std::string_view section, std::string_view key, std::string_view value)
{
    section = common::trimName(section);
    key = common::trimName(key);
    const std::string entry = std::string(key) + "=" + flattenValue(value) + "\r\n";
    const Place place = locate(content, section, key);
    std::string out(content);
    if (!place.header)
        return out + std::string(lineEndFor(content)) + "[" + std::string(section) + "]\r\n" + entry;
    if (place.entry)
        return out.replace(place.entry->begin, place.entry->end - place.entry->begin, entry);
    // After the section's last non-blank line, so blank lines that separate sections stay where they are.
    const Line &anchor = place.lastFilled;
    const std::string_view lineEnd = anchor.end == content.size() ? lineEndFor(content) : std::string_view();
    return out.insert(anchor.end, std::string(lineEnd) + entry);
}

} // namespace settings
