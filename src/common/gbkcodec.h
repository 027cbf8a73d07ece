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
// Appends the conversion to `out`.
void appendDecodedGbk(std::string &out, std::string_view gbk);

// Room that decodeGbkTo needs for `gbkBytes` bytes: three per byte at most, and slack for its wide stores.
constexpr std::size_t decodedBound(std::size_t gbkBytes)
{
    return gbkBytes * 3 + 16;
}
// Writes the conversion from `out`, which has room for decodedBound(gbk.size()) bytes; returns its end.
char *decodeGbkTo(char *out, std::string_view gbk);

// The UTF-8 sequence of two to four bytes at `at`: its code point and length, or U+FFFD with length 1 when the
// bytes there are not one well-formed sequence (an ASCII byte included).
std::pair<char32_t, std::size_t> readUtf8(std::string_view text, std::size_t at);

// UTF-8 -> GBK. A character GBK cannot hold, and each malformed UTF-8 sequence, becomes '?'.
std::string encodeGbk(std::string_view utf8);

} // namespace common
