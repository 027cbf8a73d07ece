#pragma once

#include "download/downloaderror.h"
#include "download/httpanswer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Checking each answer of a ranged download against its request and against the version of the file that the
// task has pinned. Pure; accepts any bytes.
namespace download {

// The version of a remote file: its total size and its validators, as the first answer gave them.
struct FileVersion
{
    std::int64_t total = -1; // -1: unknown
    std::string etag; // empty when the server sent none
    std::string lastModified;
    // The address that answered, after redirects and without its query (see originOf); empty when unknown.
    // Not part of a control record: a resumed download learns it from its first answer.
    std::string origin;

    bool operator==(const FileVersion &) const = default;
};

// False when two descriptions cannot be of the same file: both know a total and the totals differ, or both
// carry an ETag (or a Last-Modified) and these differ, or they share no validator and came from different
// origins (a redirect to another server or path may lead to another file). What one side lacks is not held
// against it otherwise.
bool sameFile(const FileVersion &a, const FileVersion &b);

// `url` without its query and fragment: the part that names the file. A query that changes between redirects
// (a signature, a time) does not make another file.
std::string_view originOf(std::string_view url);

// The "If-Range" value that pins `version`: a strong ETag, else the Last-Modified date, else empty.
std::string ifRangeValue(const FileVersion &version);

// The header of one answer, read line by line.
struct AnswerHead
{
    int status = 0;
    std::optional<ContentRange> range;
    std::optional<std::int64_t> unsatisfiedTotal; // the N of "Content-Range: bytes */N"
    std::int64_t contentLength = -1;
    bool location = false;
    std::string retryAfter; // the Retry-After value, as sent
    FileVersion version; // total from Content-Range or Content-Length, and the validators
};

// Adds one header line. A status line starts a new answer (after a redirect or an interim answer). Returns true
// for the empty line that ends a header. Values longer than 1024 bytes are ignored, so memory stays bounded.
bool readHeaderLine(AnswerHead &head, std::string_view line);

// An answer that another one follows: 1xx, or a redirect that is followed to its Location.
bool isInterim(const AnswerHead &head);

struct AnswerVerdict
{
    enum class Kind
    {
        Range, // 206 with the bytes from the requested offset up to `end`
        Whole, // 200 to a request from 0: the whole file from byte 0
        Anew, // 200 to a request from an offset: the whole file, perhaps another version; start over, never splice
        Empty, // the remote file is empty
        Changed, // another version than the pinned one
        Refused // no usable data: `error` says why and whether a retry may help
    };
    Kind kind = Kind::Refused;
    FileVersion version; // what the answer says of the file
    std::int64_t end = -1; // Range: exclusive end of the bytes the answer carries
    DownloadError error; // Refused
};

// Judges a complete answer header (with its version's origin filled in by the caller) to a request
// "Range: bytes=<requestedFrom>-", sent with "If-Range: <ifRangeSent>" unless that is empty. When it carried
// If-Range, a 206 must carry that very validator (one that the answer lacks counts as a change). A 206 must start at
// the requested offset, name its total, end within it, and carry a Content-Length equal to its range when it gives one.
// 408, 429, 5xx and a 416 to an offset inside the file may be retried; other 4xx and anything else that is not
// 200, 206 or 416 may not.
// An empty file is a 200 with length 0, or a 416 to a request from 0 whose total is 0 or absent.
AnswerVerdict judgeAnswer(const AnswerHead &head, std::int64_t requestedFrom, const std::optional<FileVersion> &pinned,
    std::string_view ifRangeSent = {});

// Whether `answer` differs from `pinned` only in its ETag, with the same total and the same Last-Modified: a
// balanced server whose machines each make their own ETag for one file.
bool onlyETagDiffers(const FileVersion &pinned, const FileVersion &answer);

// The same, for answers with no Last-Modified on either side: only the ETags differ, and the totals agree.
bool onlyETagDiffersWithoutDates(const FileVersion &pinned, const FileVersion &answer);

} // namespace download
