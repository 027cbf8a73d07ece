#pragma once

#include "common/result.h"
#include "download/downloaderror.h"
#include "download/proxy.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

// Blocking HTTP(S) GETs of whole pages. Thread-safe: every call has its own connection.
namespace download {

struct FetchOptions
{
    std::chrono::milliseconds connectTimeout{20000};
    // A transfer that receives less than 1 KiB in this long ends; what arrived so far is the result.
    std::chrono::milliseconds stallTimeout{60000};
    // The whole fetch ends after this long, with what arrived so far; 0: no limit but the stall window.
    std::chrono::milliseconds totalTimeout{0};
    // Bodies stop growing here; a page is never this large.
    std::size_t maxBodyBytes = 32u << 20;
    // A stop request ends the fetch within about a second, with what arrived so far (the program's quit).
    std::stop_token stop;
    // Extra request header lines, "Name: value" (If-None-Match, If-Modified-Since).
    std::vector<std::string> requestHeaders = {};
    // A manual address that proxyProblem() refuses gives that reason and no request.
    ProxySetting proxy = {};
};

// An answer that came: the status of the last answer (after redirects) and its body.
struct FetchedPage
{
    long status = 0;
    std::string body;
    // The header lines of the last answer, without their line ends; at most 64 KiB of them are kept.
    std::vector<std::string> headers;
    // Why the body is incomplete, when the transfer broke off or reached maxBodyBytes after the answer began;
    // the body then holds what arrived.
    std::optional<DownloadError> brokenOff;
};

// The value of the first header `name` (any letter case) of `page`, blanks around it dropped; empty when absent.
std::string headerOf(const FetchedPage &page, std::string_view name);

// A GET as FetchUrl makes it, with the reason when no answer came: an address that is refused (empty, without
// http:// or https://, with blanks inside; surrounding blanks are dropped) or no connection.
common::Result<FetchedPage, DownloadError> fetchPage(std::string_view url, const FetchOptions &options = {});

// The body of any answer to a GET of `url` (error pages included; redirects followed), as HTTP/1.0 with the
// program's user agent, the proxy of `options` (by default the environment's), and the user name and password written
// in the URL. Empty whenever fetchPage gives an error. A transfer broken off midway gives the bytes that arrived.
std::string FetchUrl(std::string_view url, const FetchOptions &options = {});

// FetchUrl, the body converted from UTF-8 to GB18030 and cut between the first `startMarker` and the next
// `endMarker` after it, both literal and case-sensitive. Empty when either is missing.
std::string FetchPageText(
    std::string_view url, std::string_view startMarker, std::string_view endMarker, const FetchOptions &options = {});

// The literal cut of FetchPageText on a text already at hand. Pure.
std::string textBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker);

} // namespace download
