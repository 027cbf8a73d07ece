#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// How a file of known size is shared among connections. Pure; thread-safe.
namespace download {

struct ByteRange
{
    std::int64_t begin = 0;
    std::int64_t end = 0; // exclusive

    std::int64_t size() const { return end - begin; }
    bool operator==(const ByteRange &) const = default;
};

// [0, total) cut into `parts` ranges of nearly equal size (fewer when the file is small: no range is smaller
// than `minPart`, and there is always at least one).
std::vector<ByteRange> splitEvenly(std::int64_t total, int parts, std::int64_t minPart);

// For a connection that has finished its range: the second half of the largest unfinished range
// ([position, end) of each running range). Nothing when that range is smaller than 2 * minPart.
//   [####......]  ->  [####...|...]   the new connection takes the part after |
std::optional<ByteRange> secondHalfOfLargest(const std::vector<ByteRange> &unfinished, std::int64_t minPart);

} // namespace download
