// Key and signature files on any bytes: the readers never crash and stay within their bounds, and a signature we
// make over any message and comments verifies with the comment read back as one line.
#include "signing/minisign.h"

#include "oneline_oracle.h"

#include <array>
#include <cstdint>
#include <string>

namespace {

const std::pair<signing::PublicKey, signing::SecretKey> &fixedPair()
{
    static const auto pair = signing::generateKeyPair();
    return pair;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::string_view rest(reinterpret_cast<const char *>(data) + 2, size - 2);
    const auto &[publicKey, secretKey] = fixedPair();
    const std::array keys{publicKey};
    switch (data[0] % 4) {
    case 0:
        (void)signing::readPublicKey(rest);
        break;
    case 1:
        // No password: the scrypt cost a file asks for is never paid here, only parsed.
        (void)signing::readSecretKey(rest, [] { return std::optional<std::string>(); });
        break;
    case 2:
        if (const auto verified = signing::verify(keys, "message", rest); verified.has_value())
            (void)signing::trustedTimestamp(verified->trustedComment);
        break;
    default: {
        const std::string_view comment = rest.substr(0, data[1] % (rest.size() + 1));
        const std::string_view message = rest.substr(comment.size());
        const auto verified = signing::verify(keys, message, signing::sign(secretKey, message, comment, comment));
        if (!verified.has_value() || !isOneLineOf(verified->trustedComment, comment))
            __builtin_trap();
        break;
    }
    }
    return 0;
}
