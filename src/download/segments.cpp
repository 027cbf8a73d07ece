#include "download/segments.h"

#include <algorithm>

namespace download {

std::vector<ByteRange> splitEvenly(std::int64_t total, int parts, std::int64_t minPart)
{
    const std::int64_t most = minPart > 0 ? std::max<std::int64_t>(1, total / minPart) : parts;
    const std::int64_t count = std::clamp<std::int64_t>(parts, 1, std::max<std::int64_t>(1, most));
    std::vector<ByteRange> ranges;
    for (std::int64_t i = 0; i < count; ++i)
        ranges.push_back({total * i / count, total * (i + 1) / count});
    return ranges;
}

std::optional<ByteRange> secondHalfOfLargest(const std::vector<ByteRange> &unfinished, std::int64_t minPart)
{
    const auto largest = std::max_element(unfinished.begin(), unfinished.end(),
        [](const ByteRange &a, const ByteRange &b) { return a.size() < b.size(); });
    if (largest == unfinished.end() || largest->size() < 2 * minPart)
        return std::nullopt;
    return ByteRange{largest->begin + largest->size() / 2, largest->end};
}

} // namespace download
