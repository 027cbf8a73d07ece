#include "cli/records.h"

#include "common/gbk.h"
#include "common/gbkcodec.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cli {

namespace {

// Whether any byte is below 0x20 (TAB, CR, LF among them) or a backslash. May say yes for a field that needs
// nothing (a backslash that is a second byte, another control byte), never no for one that does.
bool needsEscape(std::string_view field)
{
    std::size_t at = 0;
#if defined(__SSE2__)
    const __m128i lastControl = _mm_set1_epi8(0x1F);
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; at + 16 <= field.size(); at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(field.data() + at));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(block, lastControl), block);
        if (_mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(block, backslash))) != 0)
            return true;
    }
#endif
    return std::any_of(field.begin() + static_cast<std::ptrdiff_t>(at), field.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\\'; });
}

constexpr std::size_t BlockBytes = 512 * 1024;

} // namespace

void appendField(std::string &out, std::string_view field)
{
    // Most fields hold nothing to escape and go in whole.
    if (!needsEscape(field)) {
        out.append(field);
        return;
    }
    for (std::size_t at = 0; at < field.size();) {
        const std::size_t width = common::charWidth(field, at);
        if (width == 2) {
            out.append(field.substr(at, 2));
        } else {
            switch (field[at]) {
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += field[at];
            }
        }
        at += width;
    }
}

void appendRecord(std::string &out, std::initializer_list<std::string_view> fields)
{
    bool first = true;
    for (const std::string_view field : fields) {
        if (!first)
            out += '\t';
        first = false;
        appendField(out, field);
    }
    out += '\n';
}

char *RecordWriter::room(std::size_t bytes)
{
    if (m_capacity - m_used >= bytes)
        return m_block.get() + m_used;
    if (m_used > 0) {
        m_full.emplace_back(std::move(m_block), m_used);
        m_used = 0;
        m_capacity = 0;
    }
    if (m_capacity < bytes) {
        m_capacity = std::max(BlockBytes, bytes);
        m_block = std::make_unique_for_overwrite<char[]>(m_capacity);
    }
    return m_block.get();
}

void RecordWriter::record(std::initializer_list<Piece> pieces, std::string_view end)
{
    std::size_t bound = end.size();
    for (const Piece &piece : pieces)
        bound += piece.before.size() + common::decodedBound(2 * piece.gbk.size()); // escaping at most doubles
    char *const start = room(bound);
    char *at = start;
    const auto copy = [&at](std::string_view utf8) {
        if (!utf8.empty())
            at = std::copy(utf8.begin(), utf8.end(), at);
    };
    for (const Piece &piece : pieces) {
        copy(piece.before);
        if (!needsEscape(piece.gbk)) {
            at = common::decodeGbkTo(at, piece.gbk);
        } else {
            std::string escaped;
            appendField(escaped, piece.gbk);
            at = common::decodeGbkTo(at, escaped);
        }
    }
    copy(end);
    m_used += static_cast<std::size_t>(at - start);
}

void RecordWriter::sendTo(Streams &streams) const
{
    for (const auto &[block, size] : m_full)
        streams.write(std::string_view(block.get(), size));
    streams.write(std::string_view(m_block.get(), m_used));
}

void RecordWriter::clear()
{
    m_full.clear();
    m_used = 0;
}

} // namespace cli
