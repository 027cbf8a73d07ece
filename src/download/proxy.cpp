#include "download/proxy.h"

#include "common/gbk.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace download {

namespace {

DownloadError refused(std::string_view utf8Detail)
{
    return {DownloadError::Kind::Address, false, 0, common::gbk(utf8Detail)};
}

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

} // namespace

std::optional<DownloadError> proxyProblem(const ProxySetting &proxy)
{
    if (proxy.mode != ProxySetting::Mode::Manual)
        return std::nullopt;
    const std::string_view url = proxy.url;
    if (url.empty())
        return refused("没有填写代理地址");
    if (std::any_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; }))
        return refused("代理地址中不能有空格或控制字符");
    const std::size_t separator = url.find("://");
    constexpr std::array<std::string_view, 4> Schemes{"http", "https", "socks5", "socks5h"};
    if (separator == std::string_view::npos
        || std::find(Schemes.begin(), Schemes.end(), lowerAscii(url.substr(0, separator))) == Schemes.end())
        return refused("代理只支持 http、https、socks5 和 socks5h 地址");
    if (separator + 3 >= url.size() || url[separator + 3] == '/' || url[separator + 3] == ':')
        return refused("代理地址中没有服务器");
    return std::nullopt;
}

} // namespace download
