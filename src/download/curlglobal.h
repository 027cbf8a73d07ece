#pragma once

#include <chrono>
#include <curl/curl.h>

// libcurl's process-wide set-up and the pieces every transfer shares.
namespace download {

// Done once before the first transfer of any thread. Thread-safe.
void ensureCurlReady();

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
    void attach(CURL *easy);

private:
    static int onProgress(void *user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded);

    std::chrono::milliseconds m_limit;
    std::chrono::steady_clock::time_point m_lastChange = std::chrono::steady_clock::now();
    curl_off_t m_lastBytes = -1;
};

} // namespace download
