#include "download/answercheck.h"

#include "common/gbk.h"

namespace download {

namespace {

constexpr std::size_t MaxValueBytes = 1024;

AnswerVerdict refused(int status, bool retryable, std::string_view utf8Detail = {})
{
    AnswerVerdict verdict;
    verdict.error.kind = status != 0 ? DownloadError::Kind::HttpStatus : DownloadError::Kind::Network;
    verdict.error.httpStatus = status;
    verdict.error.retryable = retryable;
    verdict.error.detail = common::gbk(utf8Detail);
    return verdict;
}

AnswerVerdict judged(AnswerVerdict::Kind kind, const FileVersion &version, std::int64_t end = -1)
{
    AnswerVerdict verdict;
    verdict.kind = kind;
    verdict.version = version;
    verdict.end = end;
    return verdict;
}

std::optional<std::int64_t> unsatisfiedTotal(std::string_view value)
{
    return value.substr(0, 8) == "bytes */" ? parseNumber(value.substr(8)) : std::nullopt;
}

bool isBlankLine(std::string_view line)
{
    return line == "\r\n" || line == "\n";
}

// The answer carries the validator that If-Range sent: the ETag, or the date.
bool carries(const FileVersion &version, std::string_view ifRangeSent)
{
    return ifRangeSent.empty() || version.etag == ifRangeSent || version.lastModified == ifRangeSent;
}

AnswerVerdict judgePartial(const AnswerHead &head, std::int64_t requestedFrom, const std::optional<FileVersion> &pinned,
    std::string_view ifRangeSent)
{
    if (!head.range)
        return refused(206, true, "部分内容的回答没有有效的 Content-Range");
    if (head.range->first != requestedFrom)
        return refused(206, true, "服务器给出的数据起点与请求的不同");
    // "bytes 0-99/*": where this range ends says nothing of where the file ends, so no end could be trusted.
    if (head.range->total < 0)
        return refused(206, false, "服务器没有给出文件的总大小");
    const std::int64_t length = head.range->last - head.range->first + 1;
    if (head.contentLength >= 0 && head.contentLength != length)
        return refused(206, true, "Content-Length 与 Content-Range 不一致");
    if ((pinned && !sameFile(*pinned, head.version)) || !carries(head.version, ifRangeSent))
        return judged(AnswerVerdict::Kind::Changed, head.version);
    return judged(AnswerVerdict::Kind::Range, head.version, head.range->last + 1);
}

AnswerVerdict judgeWhole(const AnswerHead &head, std::int64_t requestedFrom, const std::optional<FileVersion> &pinned,
    std::string_view ifRangeSent)
{
    // A 200 to If-Range says the file changed (RFC 9110 13.1.5).
    if ((pinned && !sameFile(*pinned, head.version)) || !ifRangeSent.empty())
        return judged(AnswerVerdict::Kind::Changed, head.version);
    if (requestedFrom > 0)
        return judged(AnswerVerdict::Kind::Anew, head.version);
    if (head.version.total == 0)
        return judged(AnswerVerdict::Kind::Empty, head.version);
    return judged(AnswerVerdict::Kind::Whole, head.version);
}

AnswerVerdict judgeUnsatisfiable(
    const AnswerHead &head, std::int64_t requestedFrom, const std::optional<FileVersion> &pinned)
{
    const std::int64_t total = head.unsatisfiedTotal.value_or(0);
    FileVersion version = head.version;
    version.total = total;
    if (pinned && !sameFile(*pinned, version))
        return judged(AnswerVerdict::Kind::Changed, version);
    if (requestedFrom == 0 && total == 0)
        return judged(AnswerVerdict::Kind::Empty, version);
    // The same file, yet a range inside it refused: a server that errs now and then (a mirror out of step).
    return refused(416, total > requestedFrom);
}

} // namespace

bool sameFile(const FileVersion &a, const FileVersion &b)
{
    const auto differ = [](const std::string &x, const std::string &y) { return !x.empty() && !y.empty() && x != y; };
    if (a.total >= 0 && b.total >= 0 && a.total != b.total)
        return false;
    if (differ(a.etag, b.etag) || differ(a.lastModified, b.lastModified))
        return false;
    const bool shared = (!a.etag.empty() && !b.etag.empty()) || (!a.lastModified.empty() && !b.lastModified.empty());
    return shared || !differ(a.origin, b.origin);
}

std::string_view originOf(std::string_view url)
{
    return url.substr(0, url.find_first_of("?#"));
}

std::string ifRangeValue(const FileVersion &version)
{
    if (!version.etag.empty() && version.etag.substr(0, 2) != "W/")
        return version.etag;
    return version.lastModified;
}

bool readHeaderLine(AnswerHead &head, std::string_view line)
{
    if (isBlankLine(line))
        return true;
    if (const auto status = parseStatusLine(line)) {
        head = AnswerHead{};
        head.status = *status;
        return false;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || line.size() - colon > MaxValueBytes)
        return false;
    if (const auto value = headerValue(line, "Content-Range")) {
        head.range = parseContentRange(*value);
        head.unsatisfiedTotal = unsatisfiedTotal(*value);
        if (head.range)
            head.version.total = head.range->total;
    } else if (const auto length = headerValue(line, "Content-Length")) {
        head.contentLength = parseNumber(*length).value_or(-1);
        if (head.status == 200)
            head.version.total = head.contentLength;
    } else if (const auto etag = headerValue(line, "ETag")) {
        head.version.etag = std::string(*etag);
    } else if (const auto modified = headerValue(line, "Last-Modified")) {
        head.version.lastModified = std::string(*modified);
    } else if (const auto retryAfter = headerValue(line, "Retry-After")) {
        head.retryAfter = std::string(*retryAfter);
    } else if (headerValue(line, "Location")) {
        head.location = true;
    }
    return false;
}

bool isInterim(const AnswerHead &head)
{
    const bool redirect
        = head.status == 301 || head.status == 302 || head.status == 303 || head.status == 307 || head.status == 308;
    return (head.status >= 100 && head.status < 200) || (redirect && head.location);
}

bool onlyETagDiffers(const FileVersion &pinned, const FileVersion &answer)
{
    return !pinned.etag.empty() && !answer.etag.empty() && pinned.etag != answer.etag && pinned.total >= 0
        && pinned.total == answer.total && !pinned.lastModified.empty() && pinned.lastModified == answer.lastModified;
}

bool onlyETagDiffersWithoutDates(const FileVersion &pinned, const FileVersion &answer)
{
    return !pinned.etag.empty() && !answer.etag.empty() && pinned.etag != answer.etag && pinned.total >= 0
        && pinned.total == answer.total && pinned.lastModified.empty() && answer.lastModified.empty();
}

AnswerVerdict judgeAnswer(const AnswerHead &head, std::int64_t requestedFrom, const std::optional<FileVersion> &pinned,
    std::string_view ifRangeSent)
{
    switch (head.status) {
    case 206:
        return judgePartial(head, requestedFrom, pinned, ifRangeSent);
    case 200:
        return judgeWhole(head, requestedFrom, pinned, ifRangeSent);
    case 416:
        return judgeUnsatisfiable(head, requestedFrom, pinned);
    case 408:
    case 429:
        return refused(head.status, true);
    case 0:
        return refused(0, true, "服务器的回答无法识别");
    default:
        return refused(head.status, head.status >= 500 && head.status <= 599);
    }
}

} // namespace download
