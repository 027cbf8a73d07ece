#include "common/gbk.h"

#include "common/bytescan.h"
#include "common/gbkcodec.h"

#include <algorithm>

namespace common {

namespace {

bool isAsciiLetter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

unsigned char foldAscii(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

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

namespace {

// The first place a raw byte search `find` (from an offset) turns up that starts a character.
template <typename Find> std::size_t firstOnBoundary(std::string_view text, std::size_t from, Find find)
{
    BoundaryCursor boundaries(text);
    for (std::size_t at = find(from); at != std::string_view::npos; at = find(at + 1)) {
        if (boundaries.isBoundary(at))
            return at;
    }
    return std::string_view::npos;
}

} // namespace

std::size_t findByte(std::string_view text, char c, std::size_t from)
{
    return firstOnBoundary(text, from, [text, c](std::size_t at) { return text.find(c, at); });
}

std::size_t findEitherByte(std::string_view text, char a, char b, std::size_t from)
{
    return firstOnBoundary(text, from, [text, a, b](std::size_t at) { return bytescan::findEither(text, a, b, at); });
}

long findText(std::string_view text, std::string_view needle, long from, Case mode)
{
    // Folding cannot change a needle without ASCII letters (the catalog keys are all Chinese): compare exactly.
    if (mode == Case::IgnoreAscii && std::none_of(needle.begin(), needle.end(), [](char c) {
            return isAsciiLetter(static_cast<unsigned char>(c));
        }))
        mode = Case::Sensitive;
    std::size_t at = from > 1 ? static_cast<std::size_t>(from - 1) : 0;
    if (at > text.size() || (needle.empty() && at >= text.size()))
        return NotFound;
    if (needle.empty()) {
        const std::size_t boundary = isCharBoundary(text, at) ? at : at + 1;
        return boundary < text.size() ? static_cast<long>(boundary + 1) : NotFound;
    }
    const auto first = static_cast<unsigned char>(needle.front());
    const bool foldFirst = mode == Case::IgnoreAscii && isAsciiLetter(first);
    BoundaryCursor boundaries(text);
    while (at < text.size()) {
        std::size_t candidate;
        if (foldFirst) {
            candidate
                = bytescan::findEither(text, static_cast<char>(first | 0x20), static_cast<char>(first & ~0x20), at);
        } else if (mode == Case::Sensitive) {
            candidate = text.find(needle, at);
        } else {
            candidate = text.find(static_cast<char>(first), at);
        }
        if (candidate == std::string_view::npos)
            return NotFound;
        if (boundaries.isBoundary(candidate) && matchesAt(text, candidate, needle, mode))
            return static_cast<long>(candidate + 1);
        at = candidate + 1;
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
    BoundaryCursor boundaries(text);
    for (std::size_t at = text.find(delimiter); at != std::string_view::npos; at = text.find(delimiter, at)) {
        if (!boundaries.isBoundary(at)) {
            ++at;
            continue;
        }
        pieces.push_back(text.substr(pieceStart, at - pieceStart));
        at += delimiter.size();
        pieceStart = at;
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

std::string_view untilZero(std::string_view bytes)
{
    return bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
}

std::vector<std::string_view> splitTabs(std::string_view line, std::size_t most)
{
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos || fields.size() > most)
            return fields;
        start = tab + 1;
    }
}

std::string oneLine(std::string_view text)
{
    std::string line(text);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}

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

std::string gbkFromUtf8(std::string_view utf8)
{
    return encodeGbk(utf8);
}

std::string utf8FromGbk(std::string_view gbk)
{
    return decodeGbk(gbk);
}

} // namespace common
