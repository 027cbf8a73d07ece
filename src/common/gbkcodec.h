#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

// Table-driven GBK <-> UTF-8 for the program's borders, with the mapping of glibc's iconv "GBK".
// Thread-safe.
namespace common {

// GBK -> UTF-8. A byte that does not start a GBK character becomes U+FFFD and the conversion goes on with the
// next byte.
std::string decodeGbk(std::string_view gbk);

// The most bytes of UTF-8 that one byte of GBK becomes.
constexpr std::size_t MaxUtf8PerGbkByte = 3;

// What to write for an ASCII control byte or a backslash that stands as a character of its own: at most two
// bytes; empty text writes the byte itself.
using AsciiEscape = std::string_view (*)(char byte);

// The conversion written from `out` on, with `escape` applied when given; returns the end of what it wrote.
// `out` has room for 3 bytes per byte of `gbk`, the most one byte takes. A byte that is the second of a GBK
// pair is never escaped.
char *decodeGbkTo(char *out, std::string_view gbk, AsciiEscape escape = nullptr);

// The UTF-8 sequence of two to four bytes at `at`: its code point and length, or U+FFFD with length 1 when the
// bytes there are not one well-formed sequence (an ASCII byte included).
std::pair<char32_t, std::size_t> readUtf8(std::string_view text, std::size_t at);

// UTF-8 -> GBK. A character GBK cannot hold, and each malformed UTF-8 sequence, becomes '?'.
std::string encodeGbk(std::string_view utf8);

} // namespace common
