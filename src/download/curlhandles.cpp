#include "download/curlhandles.h"

#include "common/gbk.h"

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

namespace {

// System leaves libcurl to read the environment. An empty proxy turns the environment's off; an empty no-proxy
// list makes a manual proxy serve every host, whatever no_proxy says.
void setProxy(CURL *easy, const ProxySetting &proxy)
{
    switch (proxy.mode) {
    case ProxySetting::Mode::System:
        return;
    case ProxySetting::Mode::None:
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        return;
    case ProxySetting::Mode::Manual:
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.url.c_str());
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
        return;
    }
}

} // namespace

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
    if (request.proxy)
        setProxy(easy, *request.proxy);
}

DownloadError curlFailure(CURLcode code)
{
    using Kind = DownloadError::Kind;
    const auto failure = [](Kind kind, bool retryable, std::string_view utf8Detail) {
        return DownloadError{kind, retryable, 0, common::gbk(utf8Detail)};
    };
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return failure(Kind::Network, true, "找不到服务器");
    case CURLE_COULDNT_CONNECT:
        return failure(Kind::Network, true, "无法连接到服务器");
    case CURLE_OPERATION_TIMEDOUT:
        return failure(Kind::Network, true, "连接超时");
    case CURLE_ABORTED_BY_CALLBACK:
        return failure(Kind::Network, true, "长时间没有收到数据");
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
        return failure(Kind::Network, true, "连接中断");
    case CURLE_TOO_MANY_REDIRECTS:
        return failure(Kind::Network, false, "重定向次数过多");
    case CURLE_UNSUPPORTED_PROTOCOL:
        return failure(Kind::Address, false, "只支持 http 和 https 地址");
    case CURLE_URL_MALFORMAT:
        return failure(Kind::Address, false, "地址格式不正确");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
        return failure(Kind::Network, false, "安全连接失败（证书无效）");
    case CURLE_OUT_OF_MEMORY:
        return failure(Kind::Network, false, "内存不足");
    default:
        return DownloadError{Kind::Network, true, 0, common::gbkFromUtf8(curl_easy_strerror(code))};
    }
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
    // A count that went back is a new answer (a redirect followed): it starts a new window.
    if (watch->m_lastBytes < 0 || bytes < watch->m_lastBytes || bytes - watch->m_lastBytes >= watch->m_progressBytes) {
        watch->m_lastBytes = bytes;
        watch->m_lastChange = now;
        return 0;
    }
    return now - watch->m_lastChange > watch->m_limit ? 1 : 0;
}

} // namespace download
