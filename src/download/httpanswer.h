#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Pieces of HTTP answers and requests that the download task reads or writes. Pure; they accept any bytes.
namespace download {

struct ContentRange
{
    std::int64_t first = 0;
    std::int64_t last = 0; // inclusive
    std::int64_t total = -1; // -1 for "*"
};

// A non-negative decimal number that fills the whole text; nothing for anything else (signs, blanks, overflow).
std::optional<std::int64_t> parseNumber(std::string_view digits);

// "bytes 0-99/1000" (with or without the "Content-Range:" name); nothing for anything else.
std::optional<ContentRange> parseContentRange(std::string_view value);

// The value of a "Name: value" header line (name compared without case), or nothing for another line.
std::optional<std::string_view> headerValue(std::string_view line, std::string_view name);

// The status code of an "HTTP/1.x NNN ..." line, or nothing.
std::optional<int> parseStatusLine(std::string_view line);

// The source address cut before its last "/", for the Referer line.
std::string_view refererOf(std::string_view url);

} // namespace download
