#pragma once

#include <string>
#include <string_view>

// Character-set conversions of web pages. Pure; thread-safe.
namespace download {

// Percent-decodes `text` ("%41" and "%4a" alike give one byte; a decoded zero adds nothing; a "%" without two
// hexadecimal digits after it stays as it is), then converts the bytes from UTF-8 to GBK as ConvertCharset
// does. Never fails as a whole.
std::string DecodePage(std::string_view text);

// Converts bytes from one named character set to another ("utf-8", "GBK", "UTF-8", "GB18030", any name iconv
// knows). A byte sequence that is not valid in the source, or a character the target cannot hold, becomes one
// "?"; no byte-order mark is written. Unknown set names give empty bytes.
std::string ConvertCharset(std::string_view bytes, std::string_view sourceSet, std::string_view targetSet);

// UTF-8 -> GB18030 with iconv, all or nothing: one invalid or incomplete sequence anywhere gives empty bytes.
// The output buffer starts at the input's size and grows by half the input's size plus 128 bytes whenever
// it is full, at most 11 times.
std::string Utf8ToGb18030(std::string_view bytes);

} // namespace download
