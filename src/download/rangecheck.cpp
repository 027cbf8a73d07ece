#include "download/rangecheck.h"

#include "platform/files.h"
#include "signing/fileformat.h"

namespace download {

namespace {

constexpr std::size_t CheckBytes = 16;
constexpr std::size_t ReadBytes = 1 << 20;

} // namespace

RangeCheck::RangeCheck()
{
    // A library that could not start hashes with its portable code: the checks are the same.
    (void)signing::format::sodiumStarted();
    crypto_generichash_init(&m_state, nullptr, 0, CheckBytes);
}

void RangeCheck::add(std::string_view bytes)
{
    crypto_generichash_update(&m_state, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

std::string RangeCheck::value() const
{
    crypto_generichash_state copy = m_state;
    unsigned char digest[CheckBytes];
    crypto_generichash_final(&copy, digest, sizeof digest);
    char hex[2 * CheckBytes + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

std::string rangeCheck(std::string_view bytes)
{
    RangeCheck check;
    check.add(bytes);
    return check.value();
}

std::optional<RangeCheck> checkOnDisk(int fd, const ByteRange &range, std::string_view expected)
{
    RangeCheck check;
    std::string buffer(std::min<std::size_t>(ReadBytes, static_cast<std::size_t>(range.size())), '\0');
    for (std::int64_t at = range.begin; at < range.end;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(range.end - at, ReadBytes));
        const auto n = platform::readAt(fd, buffer.data(), want, at);
        if (!n.has_value() || n.value() == 0)
            return std::nullopt;
        check.add(std::string_view(buffer.data(), n.value()));
        at += static_cast<std::int64_t>(n.value());
    }
    if (check.value() != expected)
        return std::nullopt;
    return check;
}

} // namespace download
