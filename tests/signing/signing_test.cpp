#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include <sodium.h>

#include "signing/minisign.h"
#include "support/growth.h"
#include "support/process.h"
#include "support/tempdir.h"

using signing::Error;
using Kind = signing::Error::Kind;

namespace {

constexpr const char *Minisign = "/usr/bin/minisign";

std::string quoted(const std::filesystem::path &path)
{
    return "'" + path.string() + "'";
}

// A key pair made by the real tool, with its public key read by us.
struct ToolKey
{
    std::filesystem::path publicFile;
    std::filesystem::path secretFile;
    signing::PublicKey publicKey;
};

ToolKey makeToolKey(const TempDir &dir, const std::string &name, const std::string &password = {})
{
    ToolKey key{dir.path() / (name + ".pub"), dir.path() / (name + ".key"), {}};
    const std::string generate = std::string(Minisign) + " -G -p " + quoted(key.publicFile) + " -s "
        + quoted(key.secretFile) + " >/dev/null 2>&1";
    const CommandResult made = password.empty()
        ? runCommand(generate + " -W")
        : runCommand("printf '%s\\n%s\\n' '" + password + "' '" + password + "' | " + generate);
    EXPECT_EQ(made.status, 0);
    const auto read = signing::readPublicKey(readFile(key.publicFile));
    EXPECT_TRUE(read.has_value());
    if (read.has_value())
        key.publicKey = read.value();
    return key;
}

std::function<std::optional<std::string>()> answer(std::optional<std::string> password, int *calls = nullptr)
{
    return [password, calls] {
        if (calls)
            ++*calls;
        return password;
    };
}

std::function<std::optional<std::string>()> noPasswordExpected()
{
    return [] {
        ADD_FAILURE() << "asked for a password for an unencrypted key";
        return std::optional<std::string>();
    };
}

// Whether the real tool accepts `signature` for `message` under the public key file.
bool toolAccepts(const TempDir &dir, const std::filesystem::path &publicFile, const std::string &message,
    const std::string &signature)
{
    const auto messageFile = dir.path() / "checked.txt";
    writeFile(messageFile, message);
    writeFile(dir.path() / "checked.minisig", signature);
    return runCommand(std::string(Minisign) + " -V -q -m " + quoted(messageFile) + " -x "
               + quoted(dir.path() / "checked.minisig") + " -p " + quoted(publicFile) + " >/dev/null 2>&1")
               .status
        == 0;
}

// The real tool's signature of `message`, with extra options such as "-l" for the legacy form; `password` is fed on
// standard input, where minisign reads it when there is no terminal.
std::string toolSignature(const TempDir &dir, const ToolKey &key, const std::string &message,
    const std::string &trusted, const std::string &options = {}, const std::string &password = {})
{
    const auto messageFile = dir.path() / "signed.txt";
    writeFile(messageFile, message);
    const auto signatureFile = dir.path() / "signed.minisig";
    std::filesystem::remove(signatureFile);
    const std::string input = password.empty() ? "true" : "printf '%s\\n' '" + password + "'";
    const CommandResult signedByTool
        = runCommand(input + " | " + Minisign + " -S " + options + " -m " + quoted(messageFile) + " -x "
            + quoted(signatureFile) + " -s " + quoted(key.secretFile) + " -t '" + trusted + "' >/dev/null 2>&1");
    EXPECT_EQ(signedByTool.status, 0);
    return readFile(signatureFile);
}

std::string base64(const std::string &bytes)
{
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
        sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();
    return text;
}

std::string unbase64(const std::string &text)
{
    std::string bytes(text.size(), '\0');
    std::size_t size = 0;
    EXPECT_EQ(sodium_base642bin(reinterpret_cast<unsigned char *>(bytes.data()), bytes.size(), text.data(), text.size(),
                  nullptr, &size, nullptr, sodium_base64_VARIANT_ORIGINAL),
        0);
    bytes.resize(size);
    return bytes;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string joined(const std::vector<std::string> &parts)
{
    std::string text;
    for (const auto &part : parts)
        text += part + "\n";
    return text;
}

// The key file's second line decoded, changed by `edit`, and written back.
std::string editedKeyFile(const std::string &file, const std::function<void(std::string &)> &edit)
{
    auto parts = lines(file);
    std::string bytes = unbase64(parts.at(1));
    edit(bytes);
    parts[1] = base64(bytes);
    return joined(parts);
}

void putLittleEndian(std::string &bytes, std::size_t at, std::uint64_t value)
{
    for (std::size_t i = 0; i < 8; ++i, value >>= 8)
        bytes[at + i] = static_cast<char>(value & 0xff);
}

// An unencrypted key file sealed with scrypt at a low cost, laid out as minisign seals a key; the real tool signing
// with it shows the layout is right. The tool's own keys cost a gigabyte and seconds of scrypt per opening.
std::string sealedCheaply(const std::string &plainFile, const std::string &password)
{
    return editedKeyFile(plainFile, [&](std::string &bytes) {
        constexpr std::uint64_t Ops = 1 << 15;
        constexpr std::uint64_t Mem = 1 << 24;
        auto *raw = reinterpret_cast<unsigned char *>(bytes.data());
        bytes[2] = 'S';
        bytes[3] = 'c';
        randombytes_buf(raw + 6, 32);
        putLittleEndian(bytes, 38, Ops);
        putLittleEndian(bytes, 46, Mem);
        crypto_generichash_state state;
        crypto_generichash_init(&state, nullptr, 0, 32);
        crypto_generichash_update(&state, raw, 2);
        crypto_generichash_update(&state, raw + 54, 8 + 64);
        crypto_generichash_final(&state, raw + 126, 32);
        std::array<unsigned char, 104> stream{};
        EXPECT_EQ(crypto_pwhash_scryptsalsa208sha256(
                      stream.data(), stream.size(), password.data(), password.size(), raw + 6, Ops, Mem),
            0);
        for (std::size_t i = 0; i < stream.size(); ++i)
            raw[54 + i] ^= stream[i];
    });
}

} // namespace

TEST(Signing, OwnKeyFilesReadBackAndSignaturesVerify)
{
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    const auto readPublic = signing::readPublicKey(signing::publicKeyFile(publicKey));
    const auto readSecret = signing::readSecretKey(signing::secretKeyFile(secretKey), noPasswordExpected());
    ASSERT_TRUE(readPublic.has_value());
    ASSERT_TRUE(readSecret.has_value());
    EXPECT_EQ(readPublic->id, publicKey.id);
    EXPECT_EQ(readPublic->key, publicKey.key);
    EXPECT_EQ(readSecret->key, secretKey.key);

    const std::string comment = signing::trustedComment(1700000000, "manifest.html");
    const std::string signature = signing::sign(*readSecret, "catalog bytes", comment);
    const auto other = signing::generateKeyPair().first;
    const std::array keys{other, *readPublic};
    const auto verified = signing::verify(keys, "catalog bytes", signature);
    ASSERT_TRUE(verified.has_value()) << verified.error().detail;
    EXPECT_EQ(verified->keyId, publicKey.id);
    EXPECT_EQ(verified->trustedComment, comment);
    EXPECT_EQ(signing::trustedTimestamp(verified->trustedComment), 1700000000);
}

TEST(Signing, BareBase64LineIsAPublicKey)
{
    const auto publicKey = signing::generateKeyPair().first;
    const std::string line = lines(signing::publicKeyFile(publicKey)).at(1);
    for (const std::string &text : {line, line + "\r\n", " " + line + "\t\n\n \n"}) {
        SCOPED_TRACE(text);
        const auto read = signing::readPublicKey(text);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->key, publicKey.key);
    }
}

TEST(Signing, RealToolAcceptsOurSignaturesAndKeyFiles)
{
    const TempDir dir;
    const std::string message = "第一行\nsecond line\n";
    const ToolKey toolKey = makeToolKey(dir, "tool");
    const auto secret = signing::readSecretKey(readFile(toolKey.secretFile), noPasswordExpected());
    ASSERT_TRUE(secret.has_value()) << secret.error().detail;
    const std::string signature = signing::sign(*secret, message, signing::trustedComment(1, "list.txt"));
    EXPECT_TRUE(toolAccepts(dir, toolKey.publicFile, message, signature));
    EXPECT_FALSE(toolAccepts(dir, toolKey.publicFile, message + "x", signature));

    // Our own key files, used by the tool in both roles.
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    ToolKey ours{dir.path() / "ours.pub", dir.path() / "ours.key", publicKey};
    writeFile(ours.publicFile, signing::publicKeyFile(publicKey));
    writeFile(ours.secretFile, signing::secretKeyFile(secretKey));
    EXPECT_TRUE(toolAccepts(dir, ours.publicFile, message, signing::sign(secretKey, message, "t")));
    const std::string byTool = toolSignature(dir, ours, message, "timestamp:5");
    const std::array keys{publicKey};
    EXPECT_TRUE(signing::verify(keys, message, byTool).has_value());
}

TEST(Signing, VerifiesTheRealToolsHashedAndLegacySignatures)
{
    const TempDir dir;
    const ToolKey key = makeToolKey(dir, "tool");
    const std::array keys{key.publicKey};
    const std::string trusted = "timestamp:1712345678\tfile:manifest.html\thashed";
    for (const std::string options : {"", "-l", "-H"}) {
        SCOPED_TRACE(options);
        const std::string signature = toolSignature(dir, key, "the message", trusted, options);
        const auto verified = signing::verify(keys, "the message", signature);
        ASSERT_TRUE(verified.has_value()) << verified.error().detail;
        EXPECT_EQ(verified->trustedComment, trusted);
        EXPECT_EQ(verified->keyId, key.publicKey.id);
        EXPECT_EQ(signing::trustedTimestamp(verified->trustedComment), 1712345678);
        EXPECT_EQ(signing::verify(keys, "the messagE", signature).error().kind, Kind::BadSignature);
    }
}

TEST(Signing, RefusesChangedOrDamagedSignaturesWithTheirReason)
{
    const TempDir dir;
    const ToolKey key = makeToolKey(dir, "tool");
    const std::array keys{key.publicKey};
    const std::string message = "version=2.1\nlist=软件下载\n";
    const std::string good = toolSignature(dir, key, message, "timestamp:100\tfile:m");
    const auto parts = lines(good);
    ASSERT_EQ(parts.size(), 4u);
    const auto withLine = [&](std::size_t index, const std::string &line) {
        auto changed = parts;
        changed[index] = line;
        return joined(changed);
    };
    const auto flipped = [&](std::size_t index, std::size_t byte) {
        std::string bytes = unbase64(parts[index]);
        bytes[byte] = static_cast<char>(bytes[byte] ^ 1);
        return withLine(index, base64(bytes));
    };
    std::string changedMessage = message;
    changedMessage[3] = static_cast<char>(changedMessage[3] + 1);
    const auto otherKey = signing::generateKeyPair().first;

    struct Row
    {
        const char *name;
        std::string message;
        std::string signature;
        std::vector<signing::PublicKey> keys;
        Kind kind;
    };
    const std::vector<Row> rows = {
        {"one byte of the message changed", changedMessage, good, {key.publicKey}, Kind::BadSignature},
        {"message cut short", message.substr(0, message.size() - 1), good, {key.publicKey}, Kind::BadSignature},
        {"signature bit flipped", message, flipped(1, 20), {key.publicKey}, Kind::BadSignature},
        {"trusted comment changed", message, withLine(2, "trusted comment: timestamp:101\tfile:m"), {key.publicKey},
            Kind::BadTrustedComment},
        {"global signature bit flipped", message, flipped(3, 5), {key.publicKey}, Kind::BadTrustedComment},
        {"signed by a key we do not hold", message, good, {otherKey}, Kind::UnknownKey},
        {"no keys at all", message, good, {}, Kind::UnknownKey},
        {"unknown algorithm", message, withLine(1, base64("XX" + unbase64(parts[1]).substr(2))), {key.publicKey},
            Kind::Unsupported},
        {"empty", message, "", {key.publicKey}, Kind::Malformed},
        {"garbage", message, "\x89PNG\r\n\x1a\n\0\xff garbage", {key.publicKey}, Kind::Malformed},
        {"three lines", message, joined({parts[0], parts[1], parts[2]}), {key.publicKey}, Kind::Malformed},
        {"truncated in the signature", message, good.substr(0, parts[0].size() + 30), {key.publicKey}, Kind::Malformed},
        {"last line truncated", message, good.substr(0, good.size() - 5), {key.publicKey}, Kind::Malformed},
        {"no untrusted comment prefix", message, withLine(0, "comment: x"), {key.publicKey}, Kind::Malformed},
        {"no trusted comment prefix", message, withLine(2, "timestamp:100\tfile:m"), {key.publicKey}, Kind::Malformed},
        {"base64 without padding", message, withLine(3, parts[3].substr(0, parts[3].size() - 2)), {key.publicKey},
            Kind::Malformed},
        {"base64 with a stray character", message, withLine(1, parts[1].substr(0, 10) + "*" + parts[1].substr(11)),
            {key.publicKey}, Kind::Malformed},
        {"a fifth line", message, good + "more\n", {key.publicKey}, Kind::Malformed},
        {"over 64 KiB", message, withLine(0, "untrusted comment: " + std::string(70000, 'a')), {key.publicKey},
            Kind::Malformed},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const auto result = signing::verify(row.keys, row.message, row.signature);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().kind, row.kind) << result.error().detail;
        EXPECT_FALSE(signing::describe(result.error()).empty());
    }
    // The untrusted comment is not signed, and blank lines or CRLF line ends do not matter.
    EXPECT_TRUE(signing::verify(keys, message, withLine(0, "untrusted comment: anything")).has_value());
    std::string crlf;
    for (const auto &line : parts)
        crlf += line + "\r\n";
    EXPECT_TRUE(signing::verify(keys, message, crlf + "\r\n\n").has_value());
}

TEST(Signing, EncryptedKeyNeedsItsPassword)
{
    const TempDir dir;
    ToolKey key = makeToolKey(dir, "plain");
    const std::string plain = readFile(key.secretFile);
    const std::string sealed = sealedCheaply(plain, "口令 pw");
    writeFile(key.secretFile, sealed);
    const std::array keys{key.publicKey};
    EXPECT_TRUE(signing::verify(keys, "m", toolSignature(dir, key, "m", "t", {}, "口令 pw")).has_value());

    int calls = 0;
    const auto none = signing::readSecretKey(sealed, answer(std::nullopt, &calls));
    ASSERT_FALSE(none.has_value());
    EXPECT_EQ(none.error().kind, Kind::NoPassword);
    EXPECT_EQ(calls, 1);

    for (const std::string wrongPassword : {"口令 pX", "", "口令 pw "}) {
        const auto wrong = signing::readSecretKey(sealed, answer(wrongPassword));
        ASSERT_FALSE(wrong.has_value());
        EXPECT_EQ(wrong.error().kind, Kind::WrongPassword);
    }

    const auto right = signing::readSecretKey(sealed, answer("口令 pw"));
    const auto unsealed = signing::readSecretKey(plain, noPasswordExpected());
    ASSERT_TRUE(right.has_value()) << right.error().detail;
    ASSERT_TRUE(unsealed.has_value());
    EXPECT_EQ(right->id, key.publicKey.id);
    EXPECT_EQ(right->key, unsealed->key);
}

TEST(Signing, OpensTheRealToolsEncryptedKey)
{
    const TempDir dir;
    const ToolKey key = makeToolKey(dir, "locked", "口令 pw");
    const auto opened = signing::readSecretKey(readFile(key.secretFile), answer("口令 pw"));
    ASSERT_TRUE(opened.has_value()) << opened.error().detail;
    EXPECT_EQ(opened->id, key.publicKey.id);
    EXPECT_TRUE(toolAccepts(dir, key.publicFile, "data", signing::sign(*opened, "data", "timestamp:9")));
}

TEST(Signing, RefusesCostlyScryptParametersBeforeAskingForAPassword)
{
    const TempDir dir;
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    constexpr std::size_t OpsAt = 38;
    constexpr std::size_t MemAt = 46;
    const auto encrypted = [&](std::uint64_t ops, std::uint64_t mem) {
        return editedKeyFile(signing::secretKeyFile(secretKey), [&](std::string &bytes) {
            bytes[2] = 'S';
            bytes[3] = 'c';
            putLittleEndian(bytes, OpsAt, ops);
            putLittleEndian(bytes, MemAt, mem);
        });
    };
    for (const auto &[ops, mem] :
        {std::pair<std::uint64_t, std::uint64_t>{33554433, 1 << 20}, {1 << 20, (1ull << 30) + 1}, {~0ull, ~0ull}}) {
        int calls = 0;
        const auto read = signing::readSecretKey(encrypted(ops, mem), answer("pw", &calls));
        ASSERT_FALSE(read.has_value());
        EXPECT_EQ(read.error().kind, Kind::Unsupported);
        EXPECT_EQ(calls, 0);
    }
    // Within the limits the derivation runs and, not matching the stored key, fails as a wrong password would.
    const auto cheap = signing::readSecretKey(encrypted(1 << 15, 1 << 24), answer("pw"));
    ASSERT_FALSE(cheap.has_value());
    EXPECT_EQ(cheap.error().kind, Kind::WrongPassword);
}

TEST(Signing, KeyReadersRefuseDamagedFiles)
{
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    const std::string publicFile = signing::publicKeyFile(publicKey);
    const std::string secretFile = signing::secretKeyFile(secretKey);
    const auto publicLines = lines(publicFile);
    struct Row
    {
        const char *name;
        std::string text;
        Kind kind;
    };
    const std::vector<Row> publicRows = {
        {"empty", "", Kind::Malformed},
        {"comment only", publicLines[0] + "\n", Kind::Malformed},
        {"wrong comment prefix", "comment: x\n" + publicLines[1] + "\n", Kind::Malformed},
        {"short key", publicLines[1].substr(0, 40), Kind::Malformed},
        {"key line twice", publicFile + publicLines[1] + "\n", Kind::Malformed},
        {"over-long", std::string(5000, 'A'), Kind::Malformed},
        {"not Ed25519", base64("Xy" + unbase64(publicLines[1]).substr(2)), Kind::Unsupported},
    };
    for (const Row &row : publicRows) {
        SCOPED_TRACE(row.name);
        const auto read = signing::readPublicKey(row.text);
        ASSERT_FALSE(read.has_value());
        EXPECT_EQ(read.error().kind, row.kind);
    }

    const auto edited = [&](std::size_t at, char value) {
        return editedKeyFile(secretFile, [&](std::string &bytes) { bytes[at] = value; });
    };
    const std::vector<Row> secretRows = {
        {"a public key file", publicFile, Kind::Malformed},
        {"garbage", std::string("\0\xff\n\n\n", 5), Kind::Malformed},
        {"checksum damaged", edited(150, 'x'), Kind::Malformed},
        {"secret key damaged", edited(70, 'x'), Kind::Malformed},
        {"unknown key derivation", edited(2, 'Q'), Kind::Unsupported},
        {"unknown checksum", edited(4, 'Q'), Kind::Unsupported},
        {"unknown signature algorithm", edited(1, 'D'), Kind::Unsupported},
    };
    for (const Row &row : secretRows) {
        SCOPED_TRACE(row.name);
        const auto read = signing::readSecretKey(row.text, noPasswordExpected());
        ASSERT_FALSE(read.has_value());
        EXPECT_EQ(read.error().kind, row.kind);
    }
    // minisign leaves an unencrypted key's checksum zero; its key halves still have to agree.
    const auto zeroSum = [&](std::string &bytes) { std::fill(bytes.begin() + 126, bytes.end(), '\0'); };
    EXPECT_TRUE(signing::readSecretKey(editedKeyFile(secretFile, zeroSum), noPasswordExpected()).has_value());
    const auto zeroSumDamaged = editedKeyFile(secretFile, [&](std::string &bytes) {
        zeroSum(bytes);
        bytes[70] = static_cast<char>(bytes[70] ^ 1);
    });
    EXPECT_EQ(signing::readSecretKey(zeroSumDamaged, noPasswordExpected()).error().kind, Kind::Malformed);
}

TEST(Signing, TrustedTimestampReadsOnlyALeadingTimestamp)
{
    EXPECT_EQ(signing::trustedComment(1712345678, "清单.html"), "timestamp:1712345678\tfile:清单.html\thashed");
    EXPECT_EQ(signing::trustedComment(5, "a\nb"), "timestamp:5\tfile:a b\thashed");
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> rows = {
        {"timestamp:1712345678\tfile:x", 1712345678},
        {"timestamp:0", 0},
        {"timestamp:999999999999999999", 999999999999999999},
        {"timestamp:9999999999999999999", std::nullopt},
        {"timestamp:", std::nullopt},
        {"timestamp:-5", std::nullopt},
        {"timestamp:12a", std::nullopt},
        {"timestamp:12 \tfile:x", std::nullopt},
        {"file:x\ttimestamp:12", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &[comment, seconds] : rows) {
        SCOPED_TRACE(comment);
        EXPECT_EQ(signing::trustedTimestamp(comment), seconds);
    }
}

TEST(Signing, ReadersWorkInProportionToAdversarialInput)
{
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    const std::array keys{publicKey};
    const std::string good = signing::sign(secretKey, "m", "t");
    // A run of line breaks is the most lines the splitter can be made to cut; it reads them all before refusing.
    const auto breaks = [&](std::size_t n) { return "x" + good + std::string(n, '\n'); };
    const auto check = [&](const std::string &text) { (void)signing::verify(keys, "m", text); };
    EXPECT_TRUE(growsInProportion(breaks, check, 12000));
    const auto spaces = [&](std::size_t n) { return "untrusted comment: " + std::string(n, 'A') + "\n"; };
    const auto readKey = [](const std::string &text) { (void)signing::readPublicKey(text); };
    EXPECT_TRUE(growsInProportion(spaces, readKey, 1500));
}
