#include <algorithm>
#include <cstring>

#include <sodium.h>

#include "common/base64.h"
#include "common/gbk.h"
#include "signing/fileformat.h"
#include "signing/minisign.h"

namespace signing {

using Kind = Error::Kind;
using format::error;

namespace {

// The second line of a signature file: [ED or Ed][key id 8][signature 64].
constexpr std::size_t SignatureLineBytes = 2 + 8 + crypto_sign_BYTES;

using Signature = std::array<unsigned char, crypto_sign_BYTES>;
using Prehash = std::array<unsigned char, crypto_generichash_BYTES_MAX>;

Prehash prehash(std::string_view message)
{
    Prehash hash{};
    crypto_generichash(
        hash.data(), hash.size(), reinterpret_cast<const unsigned char *>(message.data()), message.size(), nullptr, 0);
    return hash;
}

Signature signBytes(const SecretKey &key, const unsigned char *bytes, std::size_t size)
{
    Signature signature{};
    crypto_sign_detached(signature.data(), nullptr, bytes, size, key.key.data());
    return signature;
}

bool holds(const Signature &signature, const unsigned char *bytes, std::size_t size, const PublicKey &key)
{
    return crypto_sign_verify_detached(signature.data(), bytes, size, key.key.data()) == 0;
}

// The global signature covers the message's signature followed by the trusted comment.
std::string globalBytes(const Signature &signature, std::string_view trustedComment)
{
    std::string bytes(reinterpret_cast<const char *>(signature.data()), signature.size());
    bytes += trustedComment;
    return bytes;
}

const unsigned char *unsignedBytes(std::string_view bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.data());
}

struct SignatureFile
{
    bool hashed = true;
    std::array<unsigned char, 8> keyId{};
    Signature signature{};
    std::string_view trustedComment;
    Signature global{};
};

common::Result<SignatureFile, Error> parse(std::string_view text)
{
    if (text.size() > format::MaxSignatureFileBytes)
        return common::unexpected(error(Kind::Malformed, "signature file is longer than 64 KiB"));
    const auto lines = format::splitLines(text, 4);
    if (!lines || lines->size() != 4 || !(*lines)[0].starts_with(format::UntrustedPrefix)
        || !(*lines)[2].starts_with(format::TrustedPrefix))
        return common::unexpected(error(Kind::Malformed, "signature file is not the four lines of a signature"));
    const auto main = format::decodeBase64((*lines)[1], SignatureLineBytes);
    const auto global = format::decodeBase64((*lines)[3], crypto_sign_BYTES);
    if (!main || !global)
        return common::unexpected(error(Kind::Malformed, "signature lines are not Base64 of a signature"));
    SignatureFile file;
    const std::string_view algorithm = std::string_view(*main).substr(0, 2);
    if (algorithm != format::HashedAlgorithm && algorithm != format::LegacyAlgorithm)
        return common::unexpected(error(Kind::Unsupported, "signature uses an unknown algorithm"));
    file.hashed = algorithm == format::HashedAlgorithm;
    std::memcpy(file.keyId.data(), main->data() + 2, file.keyId.size());
    std::memcpy(file.signature.data(), main->data() + 10, file.signature.size());
    file.trustedComment = (*lines)[2].substr(format::TrustedPrefix.size());
    std::memcpy(file.global.data(), global->data(), file.global.size());
    return file;
}

} // namespace

std::string sign(
    const SecretKey &key, std::string_view message, std::string_view trustedComment, std::string_view untrustedComment)
{
    format::initialiseSodium();
    const std::string comment = common::oneLine(trustedComment);
    const Prehash hash = prehash(message);
    const Signature signature = signBytes(key, hash.data(), hash.size());
    const std::string global = globalBytes(signature, comment);
    const Signature globalSignature = signBytes(key, unsignedBytes(global), global.size());

    std::string line(format::HashedAlgorithm);
    line.append(reinterpret_cast<const char *>(key.id.data()), key.id.size());
    line.append(reinterpret_cast<const char *>(signature.data()), signature.size());
    const std::string_view globalView(reinterpret_cast<const char *>(globalSignature.data()), globalSignature.size());
    return std::string(format::UntrustedPrefix) + common::oneLine(untrustedComment) + "\n" + common::base64Encode(line)
        + "\n" + std::string(format::TrustedPrefix) + comment + "\n" + common::base64Encode(globalView) + "\n";
}

common::Result<Verified, Error> verify(
    std::span<const PublicKey> keys, std::string_view message, std::string_view signatureText)
{
    format::initialiseSodium();
    const auto parsed = parse(signatureText);
    if (!parsed.has_value())
        return common::unexpected(parsed.error());
    const SignatureFile &file = parsed.value();
    const auto key = std::find_if(keys.begin(), keys.end(), [&](const PublicKey &k) { return k.id == file.keyId; });
    if (key == keys.end())
        return common::unexpected(
            error(Kind::UnknownKey, "signed by key " + format::keyIdText(file.keyId) + ", which we do not hold"));
    const bool messageHolds = file.hashed
        ? holds(file.signature, prehash(message).data(), crypto_generichash_BYTES_MAX, *key)
        : holds(file.signature, unsignedBytes(message), message.size(), *key);
    if (!messageHolds)
        return common::unexpected(error(Kind::BadSignature, "signature does not match the message"));
    const std::string global = globalBytes(file.signature, file.trustedComment);
    if (!holds(file.global, unsignedBytes(global), global.size(), *key))
        return common::unexpected(error(Kind::BadTrustedComment, "trusted comment signature does not hold"));
    return Verified{file.keyId, std::string(file.trustedComment)};
}

} // namespace signing
