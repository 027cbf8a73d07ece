#include "download/curlhandles.h"

namespace download {

bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

EasyHandle newEasyHandle()
{
    return EasyHandle(curlReady() ? curl_easy_init() : nullptr);
}

MultiHandle newMultiHandle()
{
    return MultiHandle(curlReady() ? curl_multi_init() : nullptr);
}

bool appendHeader(HeaderList &list, const char *line)
{
    curl_slist *longer = curl_slist_append(list.get(), line);
    if (!longer)
        return false;
    (void)list.release(); // the longer list starts with the same node
    list.reset(longer);
    return true;
}

void setRequest(CURL *easy, const Request &request)
{
    curl_easy_setopt(easy, CURLOPT_URL, request.url);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, request.httpVersion);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.headers);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, request.maxRedirects);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
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
    if (watch->m_stop.stop_requested())
        return 1;
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
