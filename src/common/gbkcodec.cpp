#include "common/gbkcodec.h"

#include <array>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstdint>
#include <cstring>
#include <memory>

namespace common {

namespace gbktable {
extern const std::uint16_t Forward[126 * 191];
}

namespace {

constexpr char32_t Replacement = 0xFFFD;

char32_t pairCodePoint(unsigned char lead, unsigned char trail)
{
    if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE)
        return 0;
    return gbktable::Forward[(lead - 0x81) * 191 + (trail - 0x40)];
}

void appendUtf8(std::string &out, char32_t c)
{
    char bytes[3];
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (c >> 6));
        bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
        out.append(bytes, 2);
    } else {
        bytes[0] = static_cast<char>(0xE0 | (c >> 12));
        bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
        out.append(bytes, 3);
    }
}

// Code point -> GBK bytes (high byte first), 0 where GBK has no character. Built once from the forward table.
const std::array<std::uint16_t, 0x10000> &reverseTable()
{
    static const auto table = [] {
        auto reverse = std::make_unique<std::array<std::uint16_t, 0x10000>>();
        reverse->fill(0);
        for (int lead = 0xFE; lead >= 0x81; --lead) {
            for (int trail = 0xFE; trail >= 0x40; --trail) {
                const char32_t c = pairCodePoint(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail));
                if (c != 0)
                    (*reverse)[c] = static_cast<std::uint16_t>(lead << 8 | trail);
            }
        }
        return reverse;
    }();
    return *table;
}

} // namespace

std::pair<char32_t, std::size_t> readUtf8(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return {Replacement, 1};
    }
    if (at + length > text.size())
        return {Replacement, 1};
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return {Replacement, 1};
        c = c << 6 | (next & 0x3F);
    }
    const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
    if (overlong || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return {Replacement, 1};
    return {c, length};
}

namespace {

// The UTF-8 of every GBK pair, ready to be stored with one four-byte copy; length 0 where GBK has no character.
struct Utf8Code
{
    char bytes[3];
    std::uint8_t length;
};

const std::array<Utf8Code, 126 * 191> &utf8Table()
{
    static const auto table = [] {
        auto codes = std::make_unique<std::array<Utf8Code, 126 * 191>>();
        for (std::size_t i = 0; i < codes->size(); ++i) {
            const char32_t c = gbktable::Forward[i];
            std::string bytes;
            if (c != 0)
                appendUtf8(bytes, c);
            Utf8Code &code = (*codes)[i];
            code = {};
            std::memcpy(code.bytes, bytes.data(), bytes.size());
            code.length = static_cast<std::uint8_t>(bytes.size());
        }
        return codes;
    }();
    return *table;
}

// Index of the first byte of `word` (as it lay in memory) whose top bit is set in `high`.
int firstMarkedByte(std::uint64_t high)
{
    if constexpr (std::endian::native == std::endian::little)
        return std::countr_zero(high) / 8;
    else
        return std::countl_zero(high) / 8;
}

// Copies the run of ASCII bytes at `at`, a block at a time, and returns its length. The stores may reach up
// to 15 bytes past the run; decodedBound leaves room for that.
std::size_t copyAscii(const char *at, const char *end, char *out)
{
    const char *const start = at;
#if defined(__SSE2__)
    for (; end - at >= 16; at += 16, out += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), block);
        if (const auto high = static_cast<unsigned>(_mm_movemask_epi8(block)))
            return static_cast<std::size_t>(at - start) + static_cast<std::size_t>(std::countr_zero(high));
    }
#endif
    for (; end - at >= 8; at += 8, out += 8) {
        std::uint64_t word;
        std::memcpy(&word, at, 8);
        std::memcpy(out, &word, 8);
        if (const std::uint64_t high = word & 0x8080808080808080ULL)
            return static_cast<std::size_t>(at - start) + static_cast<std::size_t>(firstMarkedByte(high));
    }
    for (; at < end && static_cast<unsigned char>(*at) < 0x80; ++at)
        *out++ = *at;
    return static_cast<std::size_t>(at - start);
}

} // namespace

char *decodeGbkTo(char *out, std::string_view gbk)
{
    static_assert(sizeof(Utf8Code) == 4);
    const auto &utf8 = utf8Table();
    const char *at = gbk.data();
    const char *const end = at + gbk.size();
    for (;;) {
        const std::size_t ascii = copyAscii(at, end, out);
        at += ascii;
        out += ascii;
        if (at == end)
            return out;
        const auto lead = static_cast<unsigned char>(at[0]);
        const auto trail = at + 1 < end ? static_cast<unsigned char>(at[1]) : 0;
        if (lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE) {
            const Utf8Code &code = utf8[static_cast<std::size_t>((lead - 0x81) * 191 + (trail - 0x40))];
            if (code.length != 0) {
                std::memcpy(out, &code, 4);
                out += code.length;
                at += 2;
                continue;
            }
        }
        std::memcpy(out, "\xEF\xBF\xBD", 3); // U+FFFD
        out += 3;
        ++at;
    }
}

void appendDecodedGbk(std::string &out, std::string_view gbk)
{
    const std::size_t old = out.size();
    out.resize(old + decodedBound(gbk.size()));
    char *const end = decodeGbkTo(out.data() + old, gbk);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string decodeGbk(std::string_view gbk)
{
    std::string out;
    appendDecodedGbk(out, gbk);
    return out;
}

std::string encodeGbk(std::string_view utf8)
{
    const auto &reverse = reverseTable();
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[at]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++at;
            continue;
        }
        const auto [c, length] = readUtf8(utf8, at);
        at += length;
        const std::uint16_t code = c < 0x10000 ? reverse[c] : 0;
        if (code == 0) {
            out += '?';
        } else {
            out += static_cast<char>(code >> 8);
            out += static_cast<char>(code & 0xFF);
        }
    }
    return out;
}

} // namespace common
