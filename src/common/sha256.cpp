#include "common/sha256.h"

#include <stdexcept>

namespace common {

namespace {

// sodium_init is idempotent and thread-safe; it must run once before any other call of the library.
void initialiseSodium()
{
    static const int ready = sodium_init();
    if (ready < 0)
        throw std::runtime_error("libsodium could not be initialised");
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

Sha256::Sha256()
{
    initialiseSodium();
    crypto_hash_sha256_init(&m_state);
}

void Sha256::add(std::string_view bytes)
{
    add(bytes.data(), bytes.size());
}

void Sha256::add(const void *bytes, std::size_t size)
{
    crypto_hash_sha256_update(&m_state, static_cast<const unsigned char *>(bytes), size);
}

Sha256Digest Sha256::finish()
{
    Sha256Digest digest{};
    crypto_hash_sha256_final(&m_state, digest.data());
    crypto_hash_sha256_init(&m_state);
    return digest;
}

Sha256Digest sha256(std::string_view bytes)
{
    Sha256 hash;
    hash.add(bytes);
    return hash.finish();
}

std::string toHex(const Sha256Digest &digest)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
        hex += Digits[byte >> 4];
        hex += Digits[byte & 0xf];
    }
    return hex;
}

std::optional<Sha256Digest> sha256FromHex(std::string_view hex)
{
    Sha256Digest digest{};
    if (hex.size() != digest.size() * 2)
        return std::nullopt;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = hexDigit(hex[2 * i]);
        const int low = hexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return digest;
}

} // namespace common
