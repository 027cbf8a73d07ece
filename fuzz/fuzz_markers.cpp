// Marker extraction and the GBK helpers on any bytes: the result is always a piece of the text, and the boundary
// cursor agrees with the character boundaries counted from the start.
#include "common/gbk.h"
#include "common/markers.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const std::size_t a = bytes.find('\x01');
    const std::size_t b = a == std::string::npos ? std::string::npos : bytes.find('\x01', a + 1);
    const std::string text = bytes.substr(0, a);
    const std::string start
        = a == std::string::npos ? "(" : bytes.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
    const std::string end = b == std::string::npos ? "-" : bytes.substr(b + 1);
    for (const bool caseSensitive : {false, true}) {
        const std::string cut = common::extractBetween(text, start, end, static_cast<long>(size % 7), caseSensitive);
        if (cut.size() > text.size())
            __builtin_trap();
    }
    common::splitText(text, start);
    common::findLastText(text, start, common::Case::IgnoreAscii);
    common::truncateChars(text, size % 13);
    common::gbkFromUtf8(common::utf8FromGbk(text));
    // Characters follow one another from the start, a lead byte taking the byte after it, even past the end.
    common::BoundaryCursor cursor(text);
    for (std::size_t at = 0, next = 0; at <= text.size(); ++at) {
        if (cursor.isBoundary(at) != (at == next))
            __builtin_trap();
        if (at == next)
            next += common::isLeadByte(static_cast<unsigned char>(text[at])) && at < text.size() ? 2 : 1;
    }
    return 0;
}
