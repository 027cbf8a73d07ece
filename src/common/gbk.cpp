#include "common/gbk.h"

#include "common/iconvstream.h"

#include <algorithm>

namespace common {

namespace {

unsigned char foldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

bool matchesAt(std::string_view text, std::size_t at, std::string_view needle, Case mode)
{
    if (text.size() - at < needle.size())
        return false;
    if (mode == Case::Sensitive)
        return text.compare(at, needle.size(), needle) == 0;
    // Only single-byte ASCII letters fold: the second byte of a double-byte character may fall in the
    // letter range and must be compared exactly. Both sides are walked by characters.
    for (std::size_t i = 0; i < needle.size();) {
        const auto a = static_cast<unsigned char>(text[at + i]);
        const auto b = static_cast<unsigned char>(needle[i]);
        const std::size_t width = charWidth(needle, i);
        if (width == 2) {
            if (text.compare(at + i, 2, needle.substr(i, 2)) != 0)
                return false;
        } else if (foldAscii(a) != foldAscii(b)) {
            return false;
        }
        i += width;
    }
    return true;
}

} // namespace

long findText(std::string_view text, std::string_view needle, long from, Case mode)
{
    const std::size_t start = from > 1 ? static_cast<std::size_t>(from - 1) : 0;
    if (start > text.size() || (needle.empty() && start >= text.size()))
        return NotFound;
    const char first = needle.empty() ? '\0' : needle.front();
    const bool fastFirst = mode == Case::Sensitive && !needle.empty();
    for (std::size_t at = 0; at < text.size(); at += charWidth(text, at)) {
        if (at < start)
            continue;
        if (fastFirst && text[at] != first)
            continue;
        if (matchesAt(text, at, needle, mode))
            return static_cast<long>(at + 1);
    }
    return NotFound;
}

long findLastText(std::string_view text, std::string_view needle, Case mode)
{
    long found = NotFound;
    for (std::size_t at = 0; at < text.size(); at += charWidth(text, at)) {
        if (matchesAt(text, at, needle, mode))
            found = static_cast<long>(at + 1);
    }
    return found;
}

std::vector<std::string_view> splitText(std::string_view text, std::string_view delimiter)
{
    std::vector<std::string_view> pieces;
    if (delimiter.empty()) {
        if (!text.empty())
            pieces.push_back(text);
        return pieces;
    }
    std::size_t pieceStart = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == delimiter.front() && text.compare(at, delimiter.size(), delimiter) == 0) {
            pieces.push_back(text.substr(pieceStart, at - pieceStart));
            at += delimiter.size();
            pieceStart = at;
        } else {
            at += charWidth(text, at);
        }
    }
    if (pieceStart < text.size())
        pieces.push_back(text.substr(pieceStart));
    return pieces;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to)
{
    if (from.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, from.size(), from) == 0) {
            out.append(to);
            at += from.size();
        } else {
            const std::size_t width = charWidth(text, at);
            out.append(text.substr(at, width));
            at += width;
        }
    }
    return out;
}

std::string_view untilZero(std::string_view bytes) { return bytes.substr(0, std::min(bytes.find('\0'), bytes.size())); }

std::string_view truncateChars(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t end = 0;
    while (end < limit) {
        const std::size_t width = charWidth(text, end);
        if (end + width > limit)
            break;
        end += width;
    }
    return text.substr(0, end);
}

bool equalText(std::string_view a, std::string_view b, Case mode)
{
    return a.size() == b.size() && matchesAt(a, 0, b, mode);
}

std::string_view trimName(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string gbkFromUtf8(std::string_view utf8) { return convertLenient(utf8, "UTF-8", "GBK", "?"); }

std::string utf8FromGbk(std::string_view gbk) { return convertLenient(gbk, "GBK", "UTF-8", "\xEF\xBF\xBD"); }

} // namespace common
