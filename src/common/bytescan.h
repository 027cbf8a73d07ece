#pragma once

#include <cstddef>
#include <string_view>

// The byte scans that run over whole files and pages, sixteen bytes at a time with SSE2 where the processor has
// it. `scalar` holds the plain loops they stand for; the tests hold the two to the same answers.
// Pure; thread-safe.
namespace common::bytescan {

// Offset of the first byte at or after `from` that equals `a` or `b`; npos when there is none.
std::size_t findEither(std::string_view text, char a, char b, std::size_t from = 0);

// Number of bytes at the start of `text` that are plain ASCII: from 0x20 to 0x7F, the backslash excepted.
// Conversions and escapes pass such runs on as they are.
std::size_t plainAsciiPrefix(std::string_view text);

// Copies that prefix to `out` in the same pass and returns its length. `out` has room for text.size() bytes;
// those after the prefix may be overwritten.
std::size_t copyPlainAsciiPrefix(std::string_view text, char *out);

namespace scalar {
std::size_t findEither(std::string_view text, char a, char b, std::size_t from = 0);
std::size_t plainAsciiPrefix(std::string_view text);
std::size_t copyPlainAsciiPrefix(std::string_view text, char *out);
} // namespace scalar

} // namespace common::bytescan
