#include "signing/minisign.h"

#include <sodium.h>

#include "common/gbk.h"
#include "signing/fileformat.h"

namespace signing {

SecretKey::~SecretKey()
{
    sodium_memzero(key.data(), key.size());
}

std::string describe(const Error &error)
{
    switch (error.kind) {
    case Error::Kind::Malformed:
        return "签名无效：签名或密钥文件已损坏或格式不对";
    case Error::Kind::UnknownKey:
        return "签名无效：清单不是用本程序信任的密钥签名的";
    case Error::Kind::BadSignature:
        return "签名无效：清单在签名之后被改动过";
    case Error::Kind::BadTrustedComment:
        return "签名无效：签名里的可信注释在签名之后被改动过";
    case Error::Kind::WrongPassword:
        return "密钥口令不对，无法解开签名密钥";
    case Error::Kind::NoPassword:
        return "签名密钥有口令保护，但没有得到口令";
    case Error::Kind::Unsupported:
        return "不支持这种签名或密钥：算法或口令强度参数超出范围";
    }
    return "签名无效";
}

std::string trustedComment(std::int64_t unixSeconds, std::string_view fileName)
{
    return "timestamp:" + std::to_string(unixSeconds) + "\tfile:" + common::oneLine(fileName) + "\thashed";
}

std::optional<std::int64_t> trustedTimestamp(std::string_view trustedComment)
{
    constexpr std::string_view Prefix = "timestamp:";
    // 18 digits always fit in 64 bits; no real timestamp needs more.
    constexpr std::size_t MaxDigits = 18;
    if (!trustedComment.starts_with(Prefix))
        return std::nullopt;
    const std::string_view rest = trustedComment.substr(Prefix.size());
    const std::size_t end = std::min(rest.find('\t'), rest.size());
    if (end == 0 || end > MaxDigits)
        return std::nullopt;
    std::int64_t seconds = 0;
    for (const char c : rest.substr(0, end)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        seconds = seconds * 10 + (c - '0');
    }
    return seconds;
}

} // namespace signing
