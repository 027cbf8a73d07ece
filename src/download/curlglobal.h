#pragma once

#include <chrono>
#include <curl/curl.h>

// libcurl's process-wide set-up and the pieces every transfer shares.
namespace download {

// libcurl's entry points. The library is loaded with the first transfer rather than at start: it and the
// libraries it pulls in take longer to load than printing a whole catalog, and most commands never go online.
struct CurlApi
{
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
    decltype(&::curl_multi_init) multi_init = nullptr;
    decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
    decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
    decltype(&::curl_multi_perform) multi_perform = nullptr;
    decltype(&::curl_multi_poll) multi_poll = nullptr;
    decltype(&::curl_multi_info_read) multi_info_read = nullptr;
    decltype(&::curl_multi_cleanup) multi_cleanup = nullptr;
};

// libcurl loaded and set up, once for the process; nullptr when it cannot be loaded, which every transfer
// treats as a failure. Thread-safe.
const CurlApi *curlApi();

// The options every request of the program sets on its handle: the address, HTTP and HTTPS only (redirects
// included), the HTTP version, the request headers, up to `maxRedirects` redirects followed, no signals, and
// the connection time-out.
struct Request
{
    const char *url = nullptr;
    long httpVersion = CURL_HTTP_VERSION_1_1;
    curl_slist *headers = nullptr;
    long maxRedirects = 0;
    long connectTimeoutMs = 0;
};
void setRequest(const CurlApi &curl, CURL *easy, const Request &request);

// Ends a transfer that has received nothing for `limit`: libcurl's own low-speed check averages over several
// seconds, this one looks at the time since the last byte. Owned by the transfer; one per easy handle.
class StallWatch
{
public:
    explicit StallWatch(std::chrono::milliseconds limit)
        : m_limit(limit)
    {
    }
    // Points the handle's progress callback at this watch.
    void attach(const CurlApi &curl, CURL *easy);

private:
    static int onProgress(void *user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded);

    std::chrono::milliseconds m_limit;
    std::chrono::steady_clock::time_point m_lastChange = std::chrono::steady_clock::now();
    curl_off_t m_lastBytes = -1;
};

} // namespace download
