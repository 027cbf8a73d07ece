#include "common/gbkcodec.h"

#include "common/bytescan.h"

#include <algorithm>
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

// The UTF-8 of every GBK pair; length 0 where GBK has no character.
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

// Whether a byte goes across as it is, as bytescan::plainAsciiPrefix counts it.
bool isPlainAscii(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return value >= 0x20 && value < 0x80 && byte != '\\';
}

// Writes the character at `at` (not plain ASCII) to `to`; returns the end of what it wrote and moves `at` on.
char *putCharacter(char *to, std::string_view gbk, std::size_t &at, AsciiEscape escape)
{
    const auto lead = static_cast<unsigned char>(gbk[at]);
    if (lead < 0x80) {
        const std::string_view escaped = escape ? escape(gbk[at]) : std::string_view();
        ++at;
        if (escaped.empty()) {
            *to = static_cast<char>(lead);
            return to + 1;
        }
        return std::copy(escaped.begin(), escaped.end(), to);
    }
    const auto trail = at + 1 < gbk.size() ? static_cast<unsigned char>(gbk[at + 1]) : 0;
    if (lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE) {
        const Utf8Code &code = utf8Table()[static_cast<std::size_t>((lead - 0x81) * 191 + (trail - 0x40))];
        if (code.length != 0) {
            // The two bytes read leave room for six written: all three go, of which `length` count.
            at += 2;
            std::memcpy(to, code.bytes, sizeof code.bytes);
            return to + code.length;
        }
    }
    ++at;
    return std::copy_n("\xEF\xBF\xBD", 3, to); // U+FFFD
}

} // namespace

char *decodeGbkTo(char *out, std::string_view gbk, AsciiEscape escape)
{
    for (std::size_t at = 0; at < gbk.size();) {
        // Text is mostly ASCII (addresses, sizes, dates): runs of it go across whole.
        const std::size_t plain = bytescan::copyPlainAsciiPrefix(gbk.substr(at), out);
        out += plain;
        at += plain;
        // The other characters come in runs as well (the words of a name): one after another up to the next
        // plain byte.
        while (at < gbk.size() && !isPlainAscii(gbk[at]))
            out = putCharacter(out, gbk, at, escape);
    }
    return out;
}

std::string decodeGbk(std::string_view gbk)
{
    std::string out(MaxUtf8PerGbkByte * gbk.size(), '\0');
    out.resize(static_cast<std::size_t>(decodeGbkTo(out.data(), gbk) - out.data()));
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
