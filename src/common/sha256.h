#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// SHA-256 fed a piece at a time, through OpenSSL's libcrypto, which uses the processor's SHA instructions where
// it has them: a download's check hashes the whole file. Not thread-safe: one object per stream.
namespace common {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    void add(std::string_view bytes);
    void add(const void *bytes, std::size_t size);
    // The digest of everything added so far; the object then starts afresh.
    Sha256Digest finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

Sha256Digest sha256(std::string_view bytes);

// 64 lower-case hex digits.
std::string toHex(const Sha256Digest &digest);

// The digest written as 64 hex digits, either case; nothing for any other text.
std::optional<Sha256Digest> sha256FromHex(std::string_view hex);

} // namespace common
