#include "download/httpanswer.h"

#include <charconv>

namespace download {

namespace {

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

std::optional<std::int64_t> parseNumber(std::string_view digits)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value < 0)
        return std::nullopt;
    return value;
}

std::optional<std::string_view> headerValue(std::string_view line, std::string_view name)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !equalsIgnoringCase(trim(line.substr(0, colon)), name))
        return std::nullopt;
    return trim(line.substr(colon + 1));
}

std::optional<ContentRange> parseContentRange(std::string_view value)
{
    if (const auto named = headerValue(value, "Content-Range"))
        value = *named;
    value = trim(value);
    if (value.substr(0, 6) != "bytes ")
        return std::nullopt;
    value.remove_prefix(6);
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash)
        return std::nullopt;
    const auto first = parseNumber(value.substr(0, dash));
    const auto last = parseNumber(value.substr(dash + 1, slash - dash - 1));
    const std::string_view totalText = value.substr(slash + 1);
    const auto total = totalText == "*" ? std::optional<std::int64_t>(-1) : parseNumber(totalText);
    if (!first || !last || !total || *last < *first || (*total >= 0 && *last >= *total))
        return std::nullopt;
    return ContentRange{*first, *last, *total};
}

std::optional<int> parseStatusLine(std::string_view line)
{
    if (line.substr(0, 7) != "HTTP/1." || line.size() < 12 || line[8] != ' ')
        return std::nullopt;
    const auto code = parseNumber(line.substr(9, 3));
    if (!code || *code < 100 || *code > 599)
        return std::nullopt;
    return static_cast<int>(*code);
}

std::string_view refererOf(std::string_view url)
{
    const std::size_t slash = url.rfind('/');
    return slash == std::string_view::npos ? url : url.substr(0, slash);
}

} // namespace download
