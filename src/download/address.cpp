#include "download/address.h"

#include "common/gbk.h"

#include <algorithm>

namespace download {

namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b + 32) : b);
    });
}

common::Unexpected<DownloadError> refused(std::string_view utf8Detail)
{
    return common::unexpected(DownloadError{DownloadError::Kind::Address, false, 0, common::gbk(utf8Detail)});
}

} // namespace

common::Result<std::string, DownloadError> checkedAddress(std::string_view url)
{
    const std::string_view address = common::trimBlanks(url);
    if (address.empty())
        return refused("地址是空的");
    if (!startsWithIgnoringCase(address, "http://") && !startsWithIgnoringCase(address, "https://"))
        return refused("地址必须以 http:// 或 https:// 开头");
    const bool unsafe = std::any_of(address.begin(), address.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
    if (unsafe)
        return refused("地址中含有空格或控制字符");
    return std::string(address);
}

} // namespace download
