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

// Whether a character starts at byte offset `at` (0-based); the end of the text counts as a boundary.
bool isCharBoundary(std::string_view text, std::size_t at);

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

// Replaces every occurrence of `from` by `to`, left to right, on character boundaries.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

// The text up to (not including) its first zero byte.
std::string_view untilZero(std::string_view bytes);

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
