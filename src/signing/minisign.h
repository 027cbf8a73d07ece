#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "common/result.h"

// Keys and signatures in minisign's file formats: Ed25519 signatures over the BLAKE2b-512 hash of a message, with a
// signed ("trusted") comment line. Every reader takes any bytes: it is linear in its input, refuses over-long text
// and never allocates more than a bounded amount. Thread-safe: pure functions.
namespace signing {

struct PublicKey
{
    std::array<unsigned char, 8> id{};
    std::array<unsigned char, 32> key{};
};

// The Ed25519 secret key (seed followed by the public key). Wiped from memory when destroyed.
struct SecretKey
{
    std::array<unsigned char, 8> id{};
    std::array<unsigned char, 64> key{};
    SecretKey() = default;
    SecretKey(const SecretKey &) = default;
    SecretKey &operator=(const SecretKey &) = default;
    ~SecretKey();
};

struct Error
{
    enum class Kind
    {
        Malformed, // not a key or signature file: bad prefix, base64, length, or over-long
        UnknownKey, // well-formed, but signed by a key we do not hold
        BadSignature, // the message does not match its signature
        BadTrustedComment, // the trusted comment was changed after signing
        WrongPassword, // the secret key did not decrypt with the password given
        NoPassword, // the secret key is encrypted and no password could be had
        Unsupported, // an algorithm or scrypt cost we do not accept
    };
    Kind kind = Kind::Malformed;
    std::string detail; // English, for logs; never parsed
};

// One UTF-8 Chinese sentence for the window and kavo-cli, such as "签名无效：清单在签名之后被改动过".
std::string describe(const Error &error);

// Reads a public key file (comment line, then the base64 line) or the bare base64 line alone.
common::Result<PublicKey, Error> readPublicKey(std::string_view text);

// Reads a secret key file, encrypted with scrypt or not. `password` is called only when the key is encrypted; it gives
// nothing when no password can be had (NoPassword). Scrypt costs above minisign's own "sensitive" level (opslimit
// 33554432, memlimit 1 GiB) are Unsupported, so a hostile key file cannot make us allocate more than that.
common::Result<SecretKey, Error> readSecretKey(
    std::string_view text, const std::function<std::optional<std::string>()> &password);

// A signature file in the prehashed ("ED") form that minisign writes by default. Line breaks in either comment are
// written as spaces, since each comment is one line of the file.
std::string sign(const SecretKey &key, std::string_view message, std::string_view trustedComment,
    std::string_view untrustedComment = "signature from KAVO catalog key");

struct Verified
{
    std::array<unsigned char, 8> keyId{};
    std::string trustedComment;
};

// Checks a signature file against whichever of `keys` has its key id; both the signature over the message and the
// signature over the trusted comment must hold. Accepts the prehashed ("ED") and the legacy ("Ed") form. Signature
// text over 64 KiB is Malformed.
common::Result<Verified, Error> verify(
    std::span<const PublicKey> keys, std::string_view message, std::string_view signatureText);

// The trusted comment minisign writes for a prehashed signature: "timestamp:<unix seconds>\tfile:<name>\thashed".
std::string trustedComment(std::int64_t unixSeconds, std::string_view fileName);
// The seconds of a trusted comment that starts "timestamp:<digits>", followed by a tab or nothing; else nothing.
std::optional<std::int64_t> trustedTimestamp(std::string_view trustedComment);

// A fresh key pair with a random key id.
std::pair<PublicKey, SecretKey> generateKeyPair();
// The key files in minisign's format; the secret key unencrypted, as `minisign -G -W` writes it (with its checksum).
std::string publicKeyFile(const PublicKey &key);
std::string secretKeyFile(const SecretKey &key);

} // namespace signing
