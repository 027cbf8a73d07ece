#include "download/fetch.h"

#include "common/gbk.h"
#include "download/address.h"
#include "download/conversions.h"
#include "download/curlhandles.h"
#include "download/httpanswer.h"

#include <curl/curl.h>
#include <memory>

namespace download {

namespace {

constexpr const char *UserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// A page is read in one go and nobody watches it arrive: a peer that drips a byte now and then must not hold
// the caller for hours, so a stall window that brings less than this ends the fetch.
constexpr curl_off_t StallProgressBytes = 1024;

struct Body
{
    std::string bytes;
    std::size_t limit = 0;
};

std::size_t appendBody(char *data, std::size_t size, std::size_t count, void *user)
{
    auto *body = static_cast<Body *>(user);
    const std::size_t bytes = size * count;
    if (body->bytes.size() + bytes > body->limit)
        return 0; // ends the transfer; what we have is the result
    body->bytes.append(data, bytes);
    return bytes;
}

// The header lines of the last answer: a new status line (after a redirect or a 100) starts them afresh.
struct Headers
{
    std::vector<std::string> lines;
    std::size_t bytes = 0;
};

constexpr std::size_t MaxHeaderBytes = 64 * 1024;

std::size_t keepHeader(char *data, std::size_t size, std::size_t count, void *user)
{
    auto *headers = static_cast<Headers *>(user);
    std::string_view line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (parseStatusLine(line)) {
        headers->lines.clear();
        headers->bytes = 0;
    } else if (!line.empty() && headers->bytes + line.size() <= MaxHeaderBytes) {
        headers->lines.emplace_back(line);
        headers->bytes += line.size();
    }
    return size * count;
}

} // namespace

std::string headerOf(const FetchedPage &page, std::string_view name)
{
    for (const std::string &line : page.headers) {
        if (const std::optional<std::string_view> value = headerValue(line, name))
            return std::string(*value);
    }
    return {};
}

common::Result<FetchedPage, DownloadError> fetchPage(std::string_view url, const FetchOptions &options)
{
    const auto address = checkedAddress(common::untilZero(url));
    if (!address.has_value())
        return common::unexpected(address.error());
    if (auto problem = proxyProblem(options.proxy))
        return common::unexpected(*problem);
    if (options.stop.stop_requested())
        return common::unexpected(DownloadError{DownloadError::Kind::Stopped, false, 0, {}});
    const EasyHandle curl = newEasyHandle();
    HeaderList headers;
    bool listed = appendHeader(headers, "Accept: */*");
    for (const std::string &line : options.requestHeaders)
        listed = listed && appendHeader(headers, line.c_str());
    if (!curl || !listed)
        return common::unexpected(
            DownloadError{DownloadError::Kind::Network, false, 0, common::gbk("无法初始化网络连接")});
    Body body{{}, options.maxBodyBytes};
    CURL *h = curl.get();
    setRequest(h,
        {address->c_str(), CURL_HTTP_VERSION_1_0, headers.get(), 20L, static_cast<long>(options.connectTimeout.count()),
            &options.proxy});
    curl_easy_setopt(h, CURLOPT_USERAGENT, UserAgent);
    if (options.totalTimeout.count() > 0)
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));
    StallWatch stall(options.stallTimeout, options.stop, StallProgressBytes);
    stall.attach(h);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    Headers answerHeaders;
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, keepHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &answerHeaders);
    // The status is not examined, and a transfer that breaks off keeps what arrived.
    const CURLcode result = curl_easy_perform(h);
    FetchedPage page;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &page.status);
    if (result != CURLE_OK && page.status == 0)
        return common::unexpected(curlFailure(result));
    if (result != CURLE_OK) {
        page.brokenOff = curlFailure(result);
        if (result == CURLE_WRITE_ERROR)
            page.brokenOff->detail = common::gbk("页面太大");
    }
    page.body = std::move(body.bytes);
    page.headers = std::move(answerHeaders.lines);
    return page;
}

std::string FetchUrl(std::string_view url, const FetchOptions &options)
{
    auto page = fetchPage(url, options);
    return page.has_value() ? std::move(page.value().body) : std::string();
}

std::string textBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker)
{
    const long start = common::findText(text, startMarker);
    if (start == common::NotFound)
        return {};
    const std::string_view rest = text.substr(static_cast<std::size_t>(start - 1) + startMarker.size());
    const long end = common::findText(rest, endMarker);
    return end == common::NotFound ? std::string() : std::string(rest.substr(0, static_cast<std::size_t>(end - 1)));
}

std::string FetchPageText(
    std::string_view url, std::string_view startMarker, std::string_view endMarker, const FetchOptions &options)
{
    const std::string page = Utf8ToGb18030(FetchUrl(url, options));
    return textBetween(common::untilZero(page), startMarker, endMarker);
}

} // namespace download
