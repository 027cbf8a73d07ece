// Answer header lines and download control records of any bytes: status lines, Content-Length, Content-Range,
// Location and the answer check never crash, a parsed range is always a proper one, and a parsed control
// record always holds together.
#include "download/answercheck.h"
#include "download/controlfile.h"
#include "download/httpanswer.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char *>(data), size);
    download::parseStatusLine(line);
    download::headerValue(line, "Content-Length");
    download::headerValue(line, "Location");
    download::refererOf(line);
    if (const auto range = download::parseContentRange(line)) {
        if (range->first < 0 || range->last < range->first || (range->total >= 0 && range->last >= range->total))
            __builtin_trap();
    }
    // The input as a header, one line per LF, judged against a request from 100 and a pinned version.
    download::AnswerHead head;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t end = std::min(line.find('\n', at), line.size() - 1);
        download::readHeaderLine(head, std::string_view(line).substr(at, end - at + 1));
        at = end + 1;
    }
    const auto verdict = download::judgeAnswer(head, 100, download::FileVersion{1000, "\"e\"", ""});
    if (verdict.kind == download::AnswerVerdict::Kind::Range && verdict.end <= 100)
        __builtin_trap();
    if (const auto record = download::parseControl(line)) {
        std::int64_t at = 0;
        for (const download::ByteRange &range : record->finished) {
            if (range.begin < at || range.end <= range.begin || range.end > record->version.total)
                __builtin_trap();
            at = range.end;
        }
        if (download::parseControl(download::formatControl(*record)) != record)
            __builtin_trap();
    }
    return 0;
}
