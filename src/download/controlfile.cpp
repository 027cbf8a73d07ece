#include "download/controlfile.h"

#include "download/httpanswer.h"

namespace download {

namespace {

constexpr std::string_view Magic = "kavo-download 1";

bool isCheck(std::string_view text)
{
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// "BEGIN END" or "BEGIN END CHECK".
std::optional<ByteRange> rangeOf(std::string_view value, std::string &check)
{
    const std::size_t blank = value.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = value.substr(blank + 1);
    const std::size_t second = rest.find(' ');
    if (second != std::string_view::npos) {
        if (!isCheck(rest.substr(second + 1)))
            return std::nullopt;
        check = std::string(rest.substr(second + 1));
        rest = rest.substr(0, second);
    }
    const auto begin = parseNumber(value.substr(0, blank));
    const auto end = parseNumber(rest);
    if (!begin || !end || *begin >= *end)
        return std::nullopt;
    return ByteRange{*begin, *end};
}

// One "key value" line into the record; false for anything unknown or malformed.
bool readLine(ControlRecord &record, std::string_view key, std::string_view value)
{
    if (key == "address") {
        record.address = std::string(value);
        return value.find(' ') == std::string_view::npos && value.find('\r') == std::string_view::npos;
    }
    if (key == "total") {
        const auto total = parseNumber(value);
        record.version.total = total.value_or(-1);
        return total.has_value();
    }
    if (key == "etag") {
        record.version.etag = std::string(value);
        return true;
    }
    if (key == "modified") {
        record.version.lastModified = std::string(value);
        return true;
    }
    if (key == "range") {
        std::string check;
        const auto range = rangeOf(value, check);
        if (!range || (!record.finished.empty() && range->begin < record.finished.back().end))
            return false;
        record.finished.push_back(*range);
        record.checks.push_back(std::move(check));
        return true;
    }
    return false;
}

} // namespace

std::string formatControl(const ControlRecord &record)
{
    std::string text = std::string(Magic) + "\naddress " + record.address + "\n";
    if (record.version.total >= 0)
        text += "total " + std::to_string(record.version.total) + "\n";
    if (!record.version.etag.empty())
        text += "etag " + record.version.etag + "\n";
    if (!record.version.lastModified.empty())
        text += "modified " + record.version.lastModified + "\n";
    for (std::size_t i = 0; i < record.finished.size(); ++i) {
        const ByteRange &range = record.finished[i];
        text += "range " + std::to_string(range.begin) + " " + std::to_string(range.end);
        if (i < record.checks.size() && !record.checks[i].empty())
            text += " " + record.checks[i];
        text += "\n";
    }
    return text;
}

std::optional<ControlRecord> parseControl(std::string_view text)
{
    if (text.substr(0, Magic.size() + 1) != std::string(Magic) + "\n")
        return std::nullopt;
    text.remove_prefix(Magic.size() + 1);
    ControlRecord record;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt; // a file cut short
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos || !readLine(record, line.substr(0, blank), line.substr(blank + 1)))
            return std::nullopt;
    }
    const bool rangesFit
        = record.finished.empty() || (record.version.total >= 0 && record.finished.back().end <= record.version.total);
    if (record.address.empty() || !rangesFit)
        return std::nullopt;
    return record;
}

bool beginsLikeControl(std::string_view head)
{
    const std::string first = std::string(Magic) + "\n";
    const std::size_t compared = std::min(head.size(), first.size());
    return head.substr(0, compared) == std::string_view(first).substr(0, compared);
}

} // namespace download
