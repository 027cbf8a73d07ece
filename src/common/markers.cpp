#include "common/markers.h"

#include "common/gbk.h"

namespace common {

namespace {

// A marker with "#引号" spelled out as quotes; the marker itself when it has none (no copy on the hot path).
std::string_view expandQuotes(std::string_view marker, std::string &storage)
{
    static const std::string quoteWord = gbk("#引号");
    if (marker.find('#') == std::string_view::npos || common::findText(marker, quoteWord) == common::NotFound)
        return marker;
    storage = common::replaceAll(marker, quoteWord, "\"");
    return storage;
}

} // namespace

std::string extractBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
    long startPosition, bool caseSensitive)
{
    return std::string(extractView(text, startMarker, endMarker, startPosition, caseSensitive));
}

std::string_view extractView(std::string_view text, std::string_view startMarker, std::string_view endMarker,
    long startPosition, bool caseSensitive)
{
    std::string startStorage;
    std::string endStorage;
    const std::string_view start = expandQuotes(startMarker, startStorage);
    const std::string_view end = expandQuotes(endMarker, endStorage);
    const common::Case mode = caseSensitive ? common::Case::Sensitive : common::Case::IgnoreAscii;
    const long from = startPosition <= 0 ? 1 : startPosition;
    const long found = common::findText(text, start, from, mode);
    if (found == common::NotFound)
        return {};
    const std::string_view rest = text.substr(static_cast<std::size_t>(found - 1) + start.size());
    const long stop = common::findText(rest, end, from, mode);
    if (stop == common::NotFound)
        return {};
    return rest.substr(0, static_cast<std::size_t>(stop - 1));
}

} // namespace common
