#pragma once

#include "download/downloaderror.h"

#include <optional>
#include <string>

// The proxy that page fetches and download tasks go through.
namespace download {

struct ProxySetting
{
    enum class Mode
    {
        System, // what the environment names (http_proxy, https_proxy, all_proxy, no_proxy), as libcurl reads it
        None, // straight to the server, whatever the environment names
        Manual // `url`: an http://, https://, socks5:// or socks5h:// address
    };
    Mode mode = Mode::System;
    std::string url;

    bool operator==(const ProxySetting &) const = default;
};

// Why a setting cannot be used: a manual address that is empty, holds blanks or control bytes, or has another
// scheme than http, https, socks5 or socks5h (any letter case). Nothing for a usable one. Pure.
std::optional<DownloadError> proxyProblem(const ProxySetting &proxy);

} // namespace download
