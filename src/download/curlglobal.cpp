#include "download/curlglobal.h"

#include "platform/library.h"

#ifndef KAVO_CURL_LIBRARY
#define KAVO_CURL_LIBRARY "libcurl.so.4"
#endif

namespace download {

namespace {

template <typename Function> bool resolve(void *library, const char *name, Function &target)
{
    target = reinterpret_cast<Function>(platform::librarySymbol(library, name));
    return target != nullptr;
}

bool loadCurl(CurlApi &api)
{
    void *library = platform::openLibrary(KAVO_CURL_LIBRARY);
    if (!library)
        return false;
    // The library stays loaded for the rest of the process: handles may outlive any one caller.
    const bool complete = resolve(library, "curl_global_init", api.global_init)
        && resolve(library, "curl_easy_init", api.easy_init) && resolve(library, "curl_easy_setopt", api.easy_setopt)
        && resolve(library, "curl_easy_perform", api.easy_perform)
        && resolve(library, "curl_easy_getinfo", api.easy_getinfo)
        && resolve(library, "curl_easy_cleanup", api.easy_cleanup)
        && resolve(library, "curl_slist_append", api.slist_append)
        && resolve(library, "curl_slist_free_all", api.slist_free_all)
        && resolve(library, "curl_multi_init", api.multi_init)
        && resolve(library, "curl_multi_add_handle", api.multi_add_handle)
        && resolve(library, "curl_multi_remove_handle", api.multi_remove_handle)
        && resolve(library, "curl_multi_perform", api.multi_perform)
        && resolve(library, "curl_multi_poll", api.multi_poll)
        && resolve(library, "curl_multi_info_read", api.multi_info_read)
        && resolve(library, "curl_multi_cleanup", api.multi_cleanup);
    return complete && api.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

} // namespace

const CurlApi *curlApi()
{
    static CurlApi api;
    static const bool loaded = loadCurl(api);
    return loaded ? &api : nullptr;
}

void setRequest(const CurlApi &curl, CURL *easy, const Request &request)
{
    curl.easy_setopt(easy, CURLOPT_URL, request.url);
    curl.easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl.easy_setopt(easy, CURLOPT_HTTP_VERSION, request.httpVersion);
    curl.easy_setopt(easy, CURLOPT_HTTPHEADER, request.headers);
    curl.easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl.easy_setopt(easy, CURLOPT_MAXREDIRS, request.maxRedirects);
    curl.easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl.easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
}

void StallWatch::attach(const CurlApi &curl, CURL *easy)
{
    m_lastChange = std::chrono::steady_clock::now();
    curl.easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl.easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &StallWatch::onProgress);
    curl.easy_setopt(easy, CURLOPT_XFERINFODATA, this);
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
