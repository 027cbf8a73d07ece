#include "downloads/options.h"

#include "common/gbk.h"
#include "download/fetch.h"
#include "download/httpanswer.h"
#include "download/progress.h"

#include <array>

namespace downloads {

namespace {

namespace keys = settings::keys;
using Mode = download::ProxySetting::Mode;

constexpr std::array<std::pair<Mode, std::string_view>, 3> ModeWords{
    {{Mode::System, "系统"}, {Mode::None, "无"}, {Mode::Manual, "手动"}}};

std::optional<int> concurrencyOf(std::string_view text)
{
    const auto value = download::parseNumber(text);
    if (!value || *value < 1 || *value > MaxConcurrency)
        return std::nullopt;
    return static_cast<int>(*value);
}

} // namespace

std::string_view proxyModeWord(Mode mode)
{
    for (const auto &[known, word] : ModeWords) {
        if (known == mode)
            return word;
    }
    return ModeWords[0].second;
}

std::optional<Mode> proxyModeOfWord(std::string_view gbkWord)
{
    for (const auto &[mode, word] : ModeWords) {
        if (common::gbk(word) == gbkWord)
            return mode;
    }
    return std::nullopt;
}

QueueOptions readQueueOptions(const settings::Settings &settings)
{
    QueueOptions options;
    options.concurrency = concurrencyOf(settings.read(keys::DownloadConcurrency)).value_or(options.concurrency);
    options.maxBytesPerSecond = download::parseRate(settings.read(keys::DownloadSpeedLimit)).value_or(0);
    options.proxy.mode = proxyModeOfWord(settings.read(keys::ProxyMode)).value_or(Mode::System);
    options.proxy.url = settings.read(keys::ProxyAddress);
    return options;
}

bool writeQueueOptions(const settings::Settings &settings, const QueueOptions &options)
{
    bool written = settings.write(keys::DownloadConcurrency, std::to_string(options.concurrency));
    written
        = settings.write(keys::DownloadSpeedLimit, std::to_string(std::max<std::int64_t>(0, options.maxBytesPerSecond)))
        && written;
    written = settings.write(keys::ProxyMode, common::gbk(proxyModeWord(options.proxy.mode))) && written;
    return settings.write(keys::ProxyAddress, options.proxy.url) && written;
}

std::function<download::ProxySetting()> settingsProxy(const settings::Settings &settings)
{
    return [&settings] { return readQueueOptions(settings).proxy; };
}

download::Fetcher proxiedFetcher(std::function<download::ProxySetting()> proxy, std::stop_token stop)
{
    return [proxy = std::move(proxy), stop](const std::string &url) {
        download::FetchOptions options;
        options.stop = stop;
        if (proxy)
            options.proxy = proxy();
        return download::FetchUrl(url, options);
    };
}

Resolver shareResolver(std::function<download::ProxySetting()> proxy, std::stop_token stop)
{
    return [fetch = proxiedFetcher(std::move(proxy), stop)](
               const std::string &shareAddress) { return download::resolveShare(shareAddress, fetch); };
}

} // namespace downloads
