#pragma once

#include "download/downloaderror.h"
#include "download/proxy.h"

#include <chrono>
#include <curl/curl.h>
#include <memory>
#include <stop_token>

// libcurl's process-wide set-up, owning handles, and the pieces every transfer shares.
namespace download {

// libcurl's global set-up, done once for the process on the first call; false when it failed, which every
// transfer treats as a failure. Thread-safe.
bool curlReady();

struct EasyCleanup
{
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup
{
    void operator()(CURLM *multi) const { curl_multi_cleanup(multi); }
};
struct HeaderListCleanup
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// Owning handles: an easy handle, a multi handle and a request-header list.
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListCleanup>;

// A new easy or multi handle; empty when libcurl could not be set up or allocate one.
EasyHandle newEasyHandle();
MultiHandle newMultiHandle();

// Appends one "Name: value" line; false when libcurl could not allocate it (the list keeps its old lines).
bool appendHeader(HeaderList &list, const char *line);

// The options every request of the program sets on its handle: the address, HTTP and HTTPS only (redirects
// included), the HTTP version, the request headers, up to `maxRedirects` redirects followed, no signals, and
// the connection time-out, and the proxy (none given: the environment's).
struct Request
{
    const char *url = nullptr;
    long httpVersion = CURL_HTTP_VERSION_1_1;
    curl_slist *headers = nullptr;
    long maxRedirects = 0;
    long connectTimeoutMs = 0;
    const ProxySetting *proxy = nullptr;
};
void setRequest(CURL *easy, const Request &request);

// The reason for a transfer that ended with `code` (not CURLE_OK): a time-out, a refused connection or a
// reset may be retried; a malformed address, too many redirects or a failed certificate check may not.
DownloadError curlFailure(CURLcode code);

// Ends a transfer that has received fewer than `progressBytes` for `limit`: libcurl's own low-speed check
// averages over several seconds, this one looks at the time since the last progress. With 1 that is the time
// since the last byte; more also ends a peer that sends a byte now and then for ever. It also ends the transfer,
// within about a second, once `stop` is requested. Owned by the transfer; one per easy handle.
class StallWatch
{
public:
    explicit StallWatch(std::chrono::milliseconds limit, std::stop_token stop = {}, curl_off_t progressBytes = 1)
        : m_limit(limit)
        , m_stop(std::move(stop))
        , m_progressBytes(progressBytes)
    {
    }
    // Points the handle's progress callback at this watch.
    void attach(CURL *easy);

private:
    static int onProgress(void *user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded);

    std::chrono::milliseconds m_limit;
    std::stop_token m_stop;
    curl_off_t m_progressBytes;
    std::chrono::steady_clock::time_point m_lastChange = std::chrono::steady_clock::now();
    curl_off_t m_lastBytes = -1;
};

} // namespace download
