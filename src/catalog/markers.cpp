#include "catalog/markers.h"

#include "common/gbk.h"

namespace catalog {

namespace {

std::string expandQuotes(std::string_view marker)
{
    static const std::string quoteWord = common::gbk("#引号");
    return common::findText(marker, quoteWord) == common::NotFound ? std::string(marker)
                                                                    : common::replaceAll(marker, quoteWord, "\"");
}

} // namespace

std::string extractBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                           long startPosition, bool caseSensitive)
{
    const std::string start = expandQuotes(startMarker);
    const std::string end = expandQuotes(endMarker);
    const common::Case mode = caseSensitive ? common::Case::Sensitive : common::Case::IgnoreAscii;
    const long from = startPosition <= 0 ? 1 : startPosition;
    const long found = common::findText(text, start, from, mode);
    if (found == common::NotFound)
        return {};
    const std::string_view rest = text.substr(static_cast<std::size_t>(found - 1) + start.size());
    const long stop = common::findText(rest, end, from, mode);
    if (stop == common::NotFound)
        return {};
    return std::string(rest.substr(0, static_cast<std::size_t>(stop - 1)));
}

} // namespace catalog
