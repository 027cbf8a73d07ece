#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "signing/minisign.h"

// The pieces the key and signature files share: their line structure, strict Base64, and the algorithm tags.
// Internal to signing/. Thread-safe: pure functions.
namespace signing::format {

inline constexpr std::string_view UntrustedPrefix = "untrusted comment: ";
inline constexpr std::string_view TrustedPrefix = "trusted comment: ";
inline constexpr std::string_view LegacyAlgorithm = "Ed"; // Ed25519 over the message itself
inline constexpr std::string_view HashedAlgorithm = "ED"; // Ed25519 over BLAKE2b-512 of the message
inline constexpr std::size_t MaxKeyFileBytes = 4096;
inline constexpr std::size_t MaxSignatureFileBytes = 64 * 1024;

// Initialises libsodium once (idempotent, thread-safe); false when it could not start. Hashing works either way:
// the start only picks the fastest code for this processor.
bool sodiumStarted();
// Makes sure libsodium is initialised, or throws; every signing entry point calls it first.
void initialiseSodium();

// The text cut into lines at "\n", each without a trailing "\r", and without the blank lines (spaces and tabs at
// most) at its end. Gives nothing when a line past the first `maxLines` is not blank, so callers see exactly the
// lines they expect. Linear in the text.
std::optional<std::vector<std::string_view>> splitLines(std::string_view text, std::size_t maxLines);

// Standard Base64 with padding, between spaces or tabs at most; nothing for any other text or when the bytes decoded
// would not be exactly `expectedBytes` long.
std::optional<std::string> decodeBase64(std::string_view text, std::size_t expectedBytes);

// The key id as minisign prints it: the 8 bytes read as a little-endian number, in upper-case hex.
std::string keyIdText(const std::array<unsigned char, 8> &id);

Error error(Error::Kind kind, std::string detail);

} // namespace signing::format
