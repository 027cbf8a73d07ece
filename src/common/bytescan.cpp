#include "common/bytescan.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace common::bytescan {

namespace scalar {

std::size_t findEither(std::string_view text, char a, char b, std::size_t from)
{
    for (; from < text.size(); ++from) {
        if (text[from] == a || text[from] == b)
            return from;
    }
    return std::string_view::npos;
}

std::size_t plainAsciiPrefix(std::string_view text)
{
    const auto special = std::find_if(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte >= 0x80 || c == '\\';
    });
    return static_cast<std::size_t>(special - text.begin());
}

} // namespace scalar

#if defined(__SSE2__)

namespace {

constexpr std::size_t Block = 16;

__m128i load(std::string_view text, std::size_t at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(text.data() + at));
}

// Offset of the first marked byte in a block mask.
std::size_t firstMarked(int mask)
{
    return static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
}

// The bytes of a block that are not plain ASCII, as a mask. Bytes from 0x80 up are negative as signed bytes, so one
// signed comparison with 0x20 finds them and the control bytes together.
int specialBytes(__m128i block)
{
    const __m128i special
        = _mm_or_si128(_mm_cmplt_epi8(block, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(block, _mm_set1_epi8('\\')));
    return _mm_movemask_epi8(special);
}

} // namespace

std::size_t findEither(std::string_view text, char a, char b, std::size_t from)
{
    const __m128i first = _mm_set1_epi8(a);
    const __m128i second = _mm_set1_epi8(b);
    for (; from + Block <= text.size(); from += Block) {
        const __m128i block = load(text, from);
        const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(block, second)));
        if (hits != 0)
            return from + firstMarked(hits);
    }
    return scalar::findEither(text, a, b, from);
}

std::size_t plainAsciiPrefix(std::string_view text)
{
    std::size_t at = 0;
    for (; at + Block <= text.size(); at += Block) {
        if (const int marked = specialBytes(load(text, at)); marked != 0)
            return at + firstMarked(marked);
    }
    if (at == text.size() || text.size() < Block)
        return at + scalar::plainAsciiPrefix(text.substr(at));
    // The bytes after the last whole block: the block that ends with the text, shifted past what was seen.
    const std::size_t last = text.size() - Block;
    const int marked = specialBytes(load(text, last)) >> (at - last);
    return marked != 0 ? at + firstMarked(marked) : text.size();
}

#else

std::size_t findEither(std::string_view text, char a, char b, std::size_t from)
{
    return scalar::findEither(text, a, b, from);
}

std::size_t plainAsciiPrefix(std::string_view text)
{
    return scalar::plainAsciiPrefix(text);
}

#endif

} // namespace common::bytescan
