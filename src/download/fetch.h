#pragma once

#include <chrono>
#include <cstddef>
#include <stop_token>
#include <string>
#include <string_view>

// Blocking HTTP(S) GETs of whole pages. Thread-safe: every call has its own connection.
namespace download {

struct FetchOptions
{
    std::chrono::milliseconds connectTimeout{20000};
    // A transfer that receives nothing for this long ends; what arrived so far is the result.
    std::chrono::milliseconds stallTimeout{60000};
    // Bodies stop growing here; a page is never this large.
    std::size_t maxBodyBytes = 32u << 20;
    // A stop request ends the fetch within about a second, with what arrived so far (the program's quit).
    std::stop_token stop;
};

// The body of any answer to a GET of `url` (error pages included; redirects followed), as HTTP/1.0 with the
// program's user agent, the proxy of the environment, and the user name and password written in the URL.
// Empty for an empty URL, a URL that is not http or https, or no connection. A transfer broken off midway
// gives the bytes that arrived.
std::string FetchUrl(std::string_view url, const FetchOptions &options = {});

// FetchUrl, the body converted from UTF-8 to GB18030 and cut between the first `startMarker` and the next
// `endMarker` after it, both literal and case-sensitive. Empty when either is missing.
std::string FetchPageText(
    std::string_view url, std::string_view startMarker, std::string_view endMarker, const FetchOptions &options = {});

// The literal cut of FetchPageText on a text already at hand. Pure.
std::string textBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker);

} // namespace download
