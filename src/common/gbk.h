#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Text inside the program is GBK bytes in std::string. Lengths and positions count bytes; positions that an
// interface calls 1-based start at 1 and -1 means "not found". A byte from 0x81 to 0xFE opens a double-byte
// character together with the byte after it, so a search never matches starting on that second byte.
// All functions here are pure and thread-safe.
namespace common {

constexpr long NotFound = -1;

inline bool isLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

// Width in bytes of the character that starts at `at`: 2 for a lead byte with a byte after it, else 1.
inline std::size_t charWidth(std::string_view text, std::size_t at)
{
    return isLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

// Whether a character starts at byte offset `at` (0-based). At the end of the text: whether the text ends on a
// whole character, not half-way through a double-byte one. `known` is an offset at or before `at` where a
// character is known to start: the answer looks at no byte before it, so it costs no more than the distance
// between the two.
inline bool isCharBoundary(std::string_view text, std::size_t at, std::size_t known = 0)
{
    // A byte outside 0x81..0xFE always ends a character (it stands alone or closes a pair), so the bytes after
    // the last such byte before `at` pair up from there: `at` is a boundary when that run has even length. A
    // run that reaches back to `known` pairs up from `known` just the same.
    std::size_t run = 0;
    while (at - run > known && isLeadByte(static_cast<unsigned char>(text[at - run - 1])))
        ++run;
    return run % 2 == 0;
}

// Tells character boundaries for offsets asked in increasing order, each answer starting from the one before:
// a scan that asks at every candidate it finds stays linear in the text however long its runs of lead-range
// bytes are. One per scan; not thread-safe.
class BoundaryCursor
{
public:
    explicit BoundaryCursor(std::string_view text)
        : m_text(text)
    {
    }
    // `at` must not be less than the offset asked before.
    bool isBoundary(std::size_t at)
    {
        const bool boundary = isCharBoundary(m_text, at, m_known);
        // Inside a character, the byte before `at` is the lead byte that starts it.
        m_known = boundary ? at : at - 1;
        return boundary;
    }

private:
    std::string_view m_text;
    std::size_t m_known = 0; // a boundary at or before every offset still to be asked
};

// The next occurrence of the ASCII byte `c` at or after `from` that starts a character; npos when none.
std::size_t findByte(std::string_view text, char c, std::size_t from = 0);
// The same for whichever of two ASCII bytes comes first.
std::size_t findEitherByte(std::string_view text, char a, char b, std::size_t from = 0);

enum class Case
{
    Sensitive,
    IgnoreAscii
};

// First match of `needle` in `text` that starts on a character boundary at or after the 1-based byte position
// `from` (0 or 1 mean the start). Returns its 1-based position or NotFound. An empty needle is found at the
// first character boundary at or after `from` as long as that lies within the text.
long findText(std::string_view text, std::string_view needle, long from = 1, Case mode = Case::Sensitive);

// Last match of `needle` in `text` starting on a character boundary; 1-based or NotFound.
// An empty needle is found in every non-empty text (at its last character) and in no empty text.
long findLastText(std::string_view text, std::string_view needle, Case mode = Case::Sensitive);

// Splits at every occurrence of `delimiter` (on character boundaries). Empty pieces between adjacent
// delimiters are kept; a trailing empty piece is dropped, so "a(" gives {"a"} and "" gives {}.
// The views point into `text`.
std::vector<std::string_view> splitText(std::string_view text, std::string_view delimiter);

// The fields of a line between its tabs, empty ones included ("a\t" gives "a" and ""). With `most`, it stops
// after `most` + 1 fields: enough to tell that a line has too many. The views point into `line`.
std::vector<std::string_view> splitTabs(std::string_view line, std::size_t most = std::string_view::npos);

// Replaces every occurrence of `from` by `to`, left to right, on character boundaries.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

// The text up to (not including) its first zero byte.
std::string_view untilZero(std::string_view bytes);

// The text with each CR and LF turned into a blank, so that it stays on one line of a file.
std::string oneLine(std::string_view text);

// Cuts `text` to at most `limit` bytes without splitting a double-byte character.
std::string_view truncateChars(std::string_view text, std::size_t limit);

// UTF-8 -> GBK for texts that enter the program (widgets, arguments, literals). A character GBK cannot hold
// becomes '?'; invalid UTF-8 bytes become '?'.
std::string gbkFromUtf8(std::string_view utf8);

// GBK -> UTF-8 for texts that leave the program (widgets, terminal, file-system paths). A byte sequence that
// is not GBK becomes U+FFFD, so every byte string gives some text.
std::string utf8FromGbk(std::string_view gbk);

// Shorthand for literals written in UTF-8 source: gbk("软件名称：").
inline std::string gbk(std::string_view utf8Literal)
{
    return gbkFromUtf8(utf8Literal);
}

} // namespace common

namespace common {

// Equality of two texts; with Case::IgnoreAscii only single-byte ASCII letters fold.
bool equalText(std::string_view a, std::string_view b, Case mode);

// Drops leading bytes of value 32 or below and trailing blanks and tabs.
std::string_view trimName(std::string_view text);

// Drops blanks and tabs on both sides.
std::string_view trimBlanks(std::string_view text);

} // namespace common
