#pragma once

#include "downloads/queue.h"
#include "settings/settings.h"

#include <functional>
#include <stop_token>
#include <string_view>

// The downloads list's options in the settings file, and the share resolution the program gives the queue.
namespace downloads {

// The most downloads that may run at once.
constexpr int MaxConcurrency = 16;

// The options as the settings file holds them; a missing or invalid value gives its default (3 at once, no
// limit, the system's proxy). Reads the file at each call.
QueueOptions readQueueOptions(const settings::Settings &settings);

// Writes all of them; false when the file refused any.
bool writeQueueOptions(const settings::Settings &settings, const QueueOptions &options);

// The settings file's word for a proxy mode (UTF-8: "系统", "无", "手动"), and the mode of a GBK word.
std::string_view proxyModeWord(download::ProxySetting::Mode mode);
std::optional<download::ProxySetting::Mode> proxyModeOfWord(std::string_view gbkWord);

// The proxy the options of `settings` name, read from the file at each call, so that a change made in the list's
// options serves the next request. `settings` must outlive the function.
std::function<download::ProxySetting()> settingsProxy(const settings::Settings &settings);

// FetchUrl with the proxy that `proxy` gives at each call (none given: the system's); a stop request ends a fetch
// within about a second (the program's quit). Thread-safe when `proxy` is.
download::Fetcher proxiedFetcher(std::function<download::ProxySetting()> proxy, std::stop_token stop = {});

// resolveShare() over proxiedFetcher(proxy, stop).
Resolver shareResolver(std::function<download::ProxySetting()> proxy, std::stop_token stop = {});

} // namespace downloads
