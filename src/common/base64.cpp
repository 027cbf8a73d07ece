#include "common/base64.h"

namespace common {

std::string base64Encode(std::string_view bytes)
{
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t left = bytes.size() - at;
        const auto b0 = static_cast<unsigned char>(bytes[at]);
        const auto b1 = left > 1 ? static_cast<unsigned char>(bytes[at + 1]) : 0u;
        const auto b2 = left > 2 ? static_cast<unsigned char>(bytes[at + 2]) : 0u;
        out += Alphabet[b0 >> 2];
        out += Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out += left > 1 ? Alphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        out += left > 2 ? Alphabet[b2 & 63] : '=';
    }
    return out;
}

} // namespace common
