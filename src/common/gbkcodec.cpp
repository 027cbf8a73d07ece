#include "common/gbkcodec.h"

#include <array>
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

// One UTF-8 sequence at `at`: its code point and length, or Replacement with length 1 when malformed.
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

} // namespace

void appendDecodedGbk(std::string &out, std::string_view gbk)
{
    out.reserve(out.size() + gbk.size() + gbk.size() / 2);
    for (std::size_t at = 0; at < gbk.size();) {
        const auto byte = static_cast<unsigned char>(gbk[at]);
        if (byte < 0x80) {
            // Runs of ASCII are copied whole, found eight bytes at a time.
            std::size_t end = at + 1;
            while (end + 8 <= gbk.size()) {
                std::uint64_t word;
                std::memcpy(&word, gbk.data() + end, 8);
                if (word & 0x8080808080808080ULL)
                    break;
                end += 8;
            }
            while (end < gbk.size() && static_cast<unsigned char>(gbk[end]) < 0x80)
                ++end;
            out.append(gbk.substr(at, end - at));
            at = end;
            continue;
        }
        const char32_t c = at + 1 < gbk.size() ? pairCodePoint(byte, static_cast<unsigned char>(gbk[at + 1])) : 0;
        appendUtf8(out, c != 0 ? c : Replacement);
        at += c != 0 ? 2 : 1;
    }
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
