#include "common/sha256.h"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>

namespace common {

namespace {

// The library's SHA-256, looked up once: a lookup per hash would cost more than hashing a short text.
const EVP_MD *sha256Method()
{
    static const EVP_MD *const method = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (method == nullptr)
        throw std::runtime_error("libcrypto has no SHA-256");
    return method;
}

// A call of the library that can only fail when it runs out of memory.
void require(int ok)
{
    if (ok != 1)
        throw std::runtime_error("libcrypto could not hash");
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

struct Sha256::State
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
};

Sha256::Sha256()
    : m_state(std::make_unique<State>())
{
    if (!m_state->context)
        throw std::bad_alloc();
    require(EVP_DigestInit_ex(m_state->context.get(), sha256Method(), nullptr));
}

Sha256::~Sha256() = default;

void Sha256::add(std::string_view bytes)
{
    add(bytes.data(), bytes.size());
}

void Sha256::add(const void *bytes, std::size_t size)
{
    require(EVP_DigestUpdate(m_state->context.get(), bytes, size));
}

Sha256Digest Sha256::finish()
{
    Sha256Digest digest{};
    require(EVP_DigestFinal_ex(m_state->context.get(), digest.data(), nullptr));
    require(EVP_DigestInit_ex(m_state->context.get(), sha256Method(), nullptr));
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
