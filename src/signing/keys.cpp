#include <cstring>

#include <sodium.h>

#include "common/base64.h"
#include "signing/fileformat.h"
#include "signing/minisign.h"

namespace signing {

using Kind = Error::Kind;
using format::error;

namespace {

// The secret key's bytes after Base64:
// [Ed][kdf][B2][salt 32][opslimit 8][memlimit 8][key id 8 | secret key 64 | checksum 32]
//                                                 \____ XORed with scrypt output when kdf is "Sc" ____/
constexpr std::size_t SaltAt = 6;
constexpr std::size_t OpsAt = SaltAt + crypto_pwhash_scryptsalsa208sha256_SALTBYTES;
constexpr std::size_t MemAt = OpsAt + 8;
constexpr std::size_t SealedAt = MemAt + 8;
constexpr std::size_t SealedBytes = 8 + 64 + 32;
constexpr std::size_t SecretKeyBytes = SealedAt + SealedBytes;
constexpr std::size_t PublicKeyBytes = 2 + 8 + 32;

constexpr std::string_view Scrypt{"Sc", 2};
constexpr std::string_view NoKdf{"\0\0", 2};
constexpr std::string_view Blake2{"B2", 2};

// minisign's own "sensitive" scrypt level, the most it ever writes.
constexpr std::uint64_t MaxOpsLimit = 33554432;
constexpr std::uint64_t MaxMemLimit = 1073741824;

std::uint64_t readLittleEndian(const std::string &bytes, std::size_t at)
{
    std::uint64_t value = 0;
    for (std::size_t i = 8; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The checksum minisign keeps with the secret key: BLAKE2b-256 of the algorithm, key id and secret key.
std::array<unsigned char, 32> checksum(const SecretKey &key)
{
    std::array<unsigned char, 32> sum{};
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, sum.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(format::LegacyAlgorithm.data()), 2);
    crypto_generichash_update(&state, key.id.data(), key.id.size());
    crypto_generichash_update(&state, key.key.data(), key.key.size());
    crypto_generichash_final(&state, sum.data(), sum.size());
    return sum;
}

// Zeroes a string's bytes when it goes out of scope, for decoded key material and passwords.
class Wiped
{
public:
    explicit Wiped(std::string &bytes)
        : m_bytes(bytes)
    {
    }
    ~Wiped() { sodium_memzero(m_bytes.data(), m_bytes.size()); }
    Wiped(const Wiped &) = delete;
    Wiped &operator=(const Wiped &) = delete;

private:
    std::string &m_bytes;
};

common::Result<std::string, Error> secretKeyBytes(std::string_view text)
{
    if (text.size() > format::MaxKeyFileBytes)
        return common::unexpected(error(Kind::Malformed, "secret key file is longer than 4 KiB"));
    const auto lines = format::splitLines(text, 2);
    if (!lines || lines->size() != 2 || !lines->front().starts_with(format::UntrustedPrefix))
        return common::unexpected(error(Kind::Malformed, "secret key file is not a comment line and a key line"));
    auto bytes = format::decodeBase64((*lines)[1], SecretKeyBytes);
    if (!bytes)
        return common::unexpected(error(Kind::Malformed, "secret key line is not Base64 of 158 bytes"));
    const std::string_view view(*bytes);
    if (!view.starts_with(format::LegacyAlgorithm) || view.substr(4, 2) != Blake2) {
        sodium_memzero(bytes->data(), bytes->size());
        return common::unexpected(error(Kind::Unsupported, "secret key uses an unknown signature or checksum"));
    }
    return std::move(*bytes);
}

// XORs the sealed part with scrypt's output for the password.
common::Result<void, Error> unseal(std::string &bytes, const std::function<std::optional<std::string>()> &password)
{
    const std::uint64_t opsLimit = readLittleEndian(bytes, OpsAt);
    const std::uint64_t memLimit = readLittleEndian(bytes, MemAt);
    if (opsLimit > MaxOpsLimit || memLimit > MaxMemLimit)
        return common::unexpected(error(Kind::Unsupported,
            "secret key asks for scrypt opslimit " + std::to_string(opsLimit) + ", memlimit "
                + std::to_string(memLimit)));
    std::optional<std::string> phrase = password ? password() : std::nullopt;
    if (!phrase)
        return common::unexpected(error(Kind::NoPassword, "secret key is encrypted and no password was given"));
    const Wiped wipePhrase(*phrase);
    std::array<unsigned char, SealedBytes> stream{};
    const int derived = crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), phrase->data(), phrase->size(),
        reinterpret_cast<const unsigned char *>(bytes.data() + SaltAt), opsLimit, static_cast<std::size_t>(memLimit));
    if (derived != 0)
        return common::unexpected(error(Kind::Unsupported, "scrypt failed for the key's parameters"));
    for (std::size_t i = 0; i < stream.size(); ++i)
        bytes[SealedAt + i] = static_cast<char>(static_cast<unsigned char>(bytes[SealedAt + i]) ^ stream[i]);
    sodium_memzero(stream.data(), stream.size());
    return {};
}

// The secret key's second half is its public key; a key whose halves disagree would sign with a key nobody holds.
bool halvesAgree(const SecretKey &key)
{
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    SecretKey derived;
    crypto_sign_seed_keypair(publicKey.data(), derived.key.data(), key.key.data());
    return sodium_memcmp(derived.key.data(), key.key.data(), key.key.size()) == 0;
}

} // namespace

common::Result<PublicKey, Error> readPublicKey(std::string_view text)
{
    if (text.size() > format::MaxKeyFileBytes)
        return common::unexpected(error(Kind::Malformed, "public key text is longer than 4 KiB"));
    const auto lines = format::splitLines(text, 2);
    if (!lines || lines->empty())
        return common::unexpected(error(Kind::Malformed, "public key text is not one or two lines"));
    std::string_view line = lines->front();
    if (lines->size() == 2) {
        if (!line.starts_with(format::UntrustedPrefix))
            return common::unexpected(error(Kind::Malformed, "public key file does not start with a comment line"));
        line = (*lines)[1];
    }
    const auto bytes = format::decodeBase64(line, PublicKeyBytes);
    if (!bytes)
        return common::unexpected(error(Kind::Malformed, "public key line is not Base64 of 42 bytes"));
    if (!bytes->starts_with(format::LegacyAlgorithm))
        return common::unexpected(error(Kind::Unsupported, "public key is not an Ed25519 key"));
    PublicKey key;
    std::memcpy(key.id.data(), bytes->data() + 2, key.id.size());
    std::memcpy(key.key.data(), bytes->data() + 10, key.key.size());
    return key;
}

common::Result<SecretKey, Error> readSecretKey(
    std::string_view text, const std::function<std::optional<std::string>()> &password)
{
    format::initialiseSodium();
    auto read = secretKeyBytes(text);
    if (!read.has_value())
        return common::unexpected(read.error());
    std::string &bytes = read.value();
    const Wiped wipeBytes(bytes);
    const std::string_view kdf = std::string_view(bytes).substr(2, 2);
    const bool encrypted = kdf == Scrypt;
    if (!encrypted && kdf != NoKdf)
        return common::unexpected(error(Kind::Unsupported, "secret key uses an unknown key derivation"));
    if (encrypted) {
        if (auto unsealed = unseal(bytes, password); !unsealed.has_value())
            return common::unexpected(unsealed.error());
    }
    SecretKey key;
    std::memcpy(key.id.data(), bytes.data() + SealedAt, key.id.size());
    std::memcpy(key.key.data(), bytes.data() + SealedAt + 8, key.key.size());
    const auto *stored = reinterpret_cast<const unsigned char *>(bytes.data() + SealedAt + 8 + 64);
    const auto expected = checksum(key);
    // minisign leaves the checksum of an unencrypted key zero; a non-zero one must still be right.
    const bool checked = sodium_memcmp(stored, expected.data(), expected.size()) == 0
        || (!encrypted && sodium_is_zero(stored, expected.size()));
    if (!checked && encrypted)
        return common::unexpected(error(Kind::WrongPassword, "secret key checksum fails after decryption"));
    if (!checked || !halvesAgree(key))
        return common::unexpected(error(Kind::Malformed, "secret key is damaged: its checksum or halves disagree"));
    return key;
}

std::pair<PublicKey, SecretKey> generateKeyPair()
{
    format::initialiseSodium();
    std::pair<PublicKey, SecretKey> pair;
    crypto_sign_keypair(pair.first.key.data(), pair.second.key.data());
    randombytes_buf(pair.first.id.data(), pair.first.id.size());
    pair.second.id = pair.first.id;
    return pair;
}

std::string publicKeyFile(const PublicKey &key)
{
    std::string bytes(format::LegacyAlgorithm);
    bytes.append(reinterpret_cast<const char *>(key.id.data()), key.id.size());
    bytes.append(reinterpret_cast<const char *>(key.key.data()), key.key.size());
    return std::string(format::UntrustedPrefix) + "KAVO public key " + format::keyIdText(key.id) + "\n"
        + common::base64Encode(bytes) + "\n";
}

std::string secretKeyFile(const SecretKey &key)
{
    format::initialiseSodium();
    std::string bytes(SecretKeyBytes, '\0');
    const Wiped wipeBytes(bytes);
    std::memcpy(bytes.data(), format::LegacyAlgorithm.data(), 2);
    std::memcpy(bytes.data() + 4, Blake2.data(), 2);
    std::memcpy(bytes.data() + SealedAt, key.id.data(), key.id.size());
    std::memcpy(bytes.data() + SealedAt + 8, key.key.data(), key.key.size());
    const auto sum = checksum(key);
    std::memcpy(bytes.data() + SealedAt + 8 + 64, sum.data(), sum.size());
    return std::string(format::UntrustedPrefix) + "KAVO secret key " + format::keyIdText(key.id) + ", unencrypted\n"
        + common::base64Encode(bytes) + "\n";
}

} // namespace signing
