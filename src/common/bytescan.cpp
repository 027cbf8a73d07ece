#include "common/bytescan.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

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

namespace {

bool isPlainAscii(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x80 && c != '\\';
}

} // namespace

std::size_t plainAsciiPrefix(std::string_view text)
{
    return static_cast<std::size_t>(std::find_if_not(text.begin(), text.end(), isPlainAscii) - text.begin());
}

std::size_t copyPlainAsciiPrefix(std::string_view text, char *out)
{
    std::size_t at = 0;
    for (; at < text.size() && isPlainAscii(text[at]); ++at)
        out[at] = text[at];
    return at;
}

} // namespace scalar

#if defined(__SSE2__)

namespace {

constexpr std::size_t Block = 16;

__m128i load(std::string_view text, std::size_t at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(text.data() + at));
}

// `width` bytes at `at` (16, 8 or 4) at the start of a block; the rest of the block is zero.
__m128i loadPart(std::string_view text, std::size_t at, std::size_t width)
{
    if (width == Block)
        return load(text, at);
    if (width == Block / 2)
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(text.data() + at));
    std::int32_t word = 0;
    std::memcpy(&word, text.data() + at, sizeof word);
    return _mm_cvtsi32_si128(word);
}

// Writes the first `width` bytes of a block to `out`.
void storePart(char *out, __m128i bytes, std::size_t width)
{
    if (width == Block) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), bytes);
    } else if (width == Block / 2) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), bytes);
    } else {
        const std::int32_t word = _mm_cvtsi128_si32(bytes);
        std::memcpy(out, &word, sizeof word);
    }
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

// The plain ASCII prefix of `text`, and with `Copy` the same bytes written to `out` (see copyPlainAsciiPrefix):
// each load is stored as it is before it is looked at. A text shorter than a block is read in loads of 8 or 4
// bytes, the most that fit. The last load ends with the text and overlaps the one before when the text is no
// whole number of loads.
template <bool Copy> std::size_t scanPlainAscii(std::string_view text, char *out)
{
    constexpr std::size_t Smallest = 4;
    if (text.size() < Smallest)
        return Copy ? scalar::copyPlainAsciiPrefix(text, out) : scalar::plainAsciiPrefix(text);
    const std::size_t width = text.size() >= Block ? Block : text.size() >= Block / 2 ? Block / 2 : Smallest;
    const int loaded = (1 << width) - 1; // the marks of the bytes loaded; the rest of the block is zero
    const auto marks = [&](std::size_t at) {
        const __m128i bytes = loadPart(text, at, width);
        if constexpr (Copy)
            storePart(out + at, bytes, width);
        return specialBytes(bytes) & loaded;
    };
    std::size_t at = 0;
    for (; at + width <= text.size(); at += width) {
        if (const int marked = marks(at); marked != 0)
            return at + firstMarked(marked);
    }
    if (at == text.size())
        return at;
    const std::size_t last = text.size() - width;
    const int marked = marks(last) >> (at - last);
    return marked != 0 ? at + firstMarked(marked) : text.size();
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
    return scanPlainAscii<false>(text, nullptr);
}

std::size_t copyPlainAsciiPrefix(std::string_view text, char *out)
{
    return scanPlainAscii<true>(text, out);
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

std::size_t copyPlainAsciiPrefix(std::string_view text, char *out)
{
    return scalar::copyPlainAsciiPrefix(text, out);
}

#endif

} // namespace common::bytescan
