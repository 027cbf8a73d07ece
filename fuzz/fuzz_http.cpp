// Answer header lines of any bytes: status lines, Content-Length, Content-Range, Location never crash, and a
// parsed range is always a proper one.
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
    return 0;
}
