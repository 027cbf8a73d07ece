#include "cli/records.h"

#include "common/gbkcodec.h"

#include <algorithm>

namespace cli {

namespace {

std::string_view escapeOf(char byte)
{
    switch (byte) {
    case '\t':
        return "\\t";
    case '\r':
        return "\\r";
    case '\n':
        return "\\n";
    case '\\':
        return "\\\\";
    default:
        return {};
    }
}

// A separator is a byte or two: copied one by one, it costs less than a call of the library's copy.
char *putShort(char *to, std::string_view text)
{
    for (const char c : text)
        *to++ = c;
    return to;
}

} // namespace

void appendUtf8Record(std::string &out, std::initializer_list<RecordPiece> pieces, std::string_view end)
{
    std::size_t room = end.size();
    for (const RecordPiece &piece : pieces)
        room += piece.before.size() + common::MaxUtf8PerGbkByte * piece.gbk.size();
    const std::size_t start = out.size();
    out.resize(start + room);
    char *at = out.data() + start;
    for (const RecordPiece &piece : pieces) {
        at = putShort(at, piece.before);
        at = common::decodeGbkTo(at, piece.gbk, escapeOf);
    }
    at = std::copy(end.begin(), end.end(), at);
    out.resize(static_cast<std::size_t>(at - out.data()));
}

std::string utf8Record(std::initializer_list<std::string_view> fields)
{
    std::string line;
    std::string_view separator;
    for (const std::string_view field : fields) {
        appendUtf8Record(line, {{separator, field}}, "");
        separator = "\t";
    }
    return line + "\n";
}

} // namespace cli
