#pragma once

#include "download/answercheck.h"
#include "download/segments.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The control file that lies beside a partial download and lets a later start resume it. Pure.
namespace download {

struct ControlRecord
{
    std::string address; // the source address, exactly as the task requests it
    FileVersion version; // total -1 until the first answer pinned it
    std::vector<ByteRange> finished; // ranges on disk, in order, none overlapping, all within the total
    // One per finished range: the rangeCheck of its bytes when it was recorded, empty when unknown. A range is
    // believed on resume only when its bytes on disk still give this check.
    std::vector<std::string> checks;

    bool operator==(const ControlRecord &) const = default;
};

// A few lines of text:
//   kavo-download 1
//   address http://host/file.zip
//   total 1048576
//   etag "5f1-ab"
//   modified Tue, 01 Aug 2023 10:00:00 GMT
//   range 0 65536 9f86d081884c7d659a2feaa0c55ad015
std::string formatControl(const ControlRecord &record);

// The record of a control file's bytes; nothing when they do not parse or do not hold together (an address
// with a blank or a line break, ranges out of order, overlapping or beyond the total, ranges without a total,
// a check that is not 32 hex digits). `checks` has as many entries as `finished`.
// Linear in the size of the text; accepts any bytes.
std::optional<ControlRecord> parseControl(std::string_view text);

// Whether `head`, the first bytes of a file, may be the start of a control file (an empty one, or one cut short
// while it was written, included). Pure.
bool beginsLikeControl(std::string_view head);

} // namespace download
