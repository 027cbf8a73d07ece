#include "download/curlglobal.h"

#include <mutex>

namespace download {

void ensureCurlReady()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void StallWatch::attach(CURL *easy)
{
    m_lastChange = std::chrono::steady_clock::now();
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &StallWatch::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
}

int StallWatch::onProgress(void *user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
{
    auto *watch = static_cast<StallWatch *>(user);
    const auto now = std::chrono::steady_clock::now();
    const curl_off_t bytes = downloaded + uploaded;
    if (bytes != watch->m_lastBytes) {
        watch->m_lastBytes = bytes;
        watch->m_lastChange = now;
        return 0;
    }
    return now - watch->m_lastChange > watch->m_limit ? 1 : 0;
}

} // namespace download
