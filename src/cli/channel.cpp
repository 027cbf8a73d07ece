#include "cli/channel.h"

#include "catalog/category.h"
#include "common/gbk.h"
#include "download/download.h"
#include "download/downloaderror.h"
#include "download/fetch.h"
#include "downloads/options.h"
#include "platform/files.h"
#include "platform/terminal.h"
#include "publish/publisher.h"
#include "settings/settings.h"
#include "signing/minisign.h"
#include "update/channel.h"
#include "update/listfile.h"
#include "update/refresh.h"

#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>

namespace cli {

namespace {

using common::utf8FromGbk;

int usage(Streams &streams, const char *text)
{
    streams.err += std::string("kavo-cli: 用法：kavo-cli ") + text + "\n";
    return 2;
}

// The author's secret key; its password from KAVO_SIGN_PASSWORD, else asked on the terminal.
common::Result<signing::SecretKey, std::string> readSigningKey(const std::string &file)
{
    const auto text = platform::readWhole(file, {64 * 1024});
    if (!text.has_value())
        return common::unexpected(file + "：无法读取私钥文件：" + text.error().describe());
    auto key = signing::readSecretKey(text.value(), [&file]() -> std::optional<std::string> {
        if (const char *password = std::getenv("KAVO_SIGN_PASSWORD"))
            return std::string(password);
        return platform::readHiddenLine(file + " 的口令：");
    });
    if (!key.has_value())
        return common::unexpected(file + "：" + signing::describe(key.error()));
    return key.value();
}

} // namespace

int publishCommand(const std::vector<std::string> &args, Streams &streams)
{
    constexpr const char *Usage = "publish SRC OUT (--base URL | --address TEMPLATE) [--sign SECRET_KEY]";
    std::vector<std::string> positional;
    publish::PublishOptions options;
    std::optional<std::string> keyFile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--address" && hasValue)
            options.addressTemplate = args[++i];
        else if (args[i] == "--base" && hasValue)
            options.base = args[++i];
        else if (args[i] == "--sign" && hasValue)
            keyFile = args[++i];
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2 || options.addressTemplate.empty() == options.base.empty())
        return usage(streams, Usage);
    std::optional<signing::SecretKey> key;
    if (keyFile) {
        auto read = readSigningKey(*keyFile);
        if (!read.has_value()) {
            streams.err += "kavo-cli: " + read.error() + "\nkavo-cli: 什么也没有发布\n";
            return 1;
        }
        key = read.value();
        options.signingKey = &*key;
    }
    options.timestamp
        = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const auto published = publish::publishCatalog(positional[0], positional[1], options);
    if (!published.has_value()) {
        for (const publish::Problem &problem : published.error())
            streams.err += publish::describe(problem) + "\n";
        streams.err += "kavo-cli: 什么也没有发布：共 " + std::to_string(published.error().size()) + " 个问题\n";
        return 1;
    }
    streams.out += publish::summary(published.value());
    return 0;
}

namespace {

struct Offer
{
    int category = 0;
    std::string local; // GBK
    std::string remote; // GBK
    bool offered = false;
};

// Every category in check order, and whether the page offers its list. The window stops at the first flagged
// list; a script asks about all of them.
std::vector<Offer> offers(const std::string &page, const settings::Settings &settings)
{
    std::vector<Offer> all;
    for (const int category : update::checkOrder()) {
        Offer offer{category, settings.read(update::versionSetting(category)),
            update::pageField(page, update::versionLabel(category)), false};
        offer.offered
            = update::pageField(page, update::flagLabel(category)) == common::gbk("是") && offer.remote != offer.local;
        all.push_back(std::move(offer));
    }
    return all;
}

// Downloads with the program's task and waits for its end.
download::Download::Outcome downloadList(download::TaskParam param)
{
    std::promise<void> ended; // outlives the task, whose thread may still be leaving set_value()
    download::Download task;
    param.eventRoutine = [&ended](int code, download::Download *, double, int, download::Download *) {
        if (code == download::EventEnded)
            ended.set_value();
        return 0;
    };
    if (!task.Start(param))
        return common::unexpected(download::DownloadError{download::DownloadError::Kind::Stopped, false, 0, {}});
    ended.get_future().wait(); // the outcome is in place before the task says it has ended
    if (const auto error = task.lastError())
        return common::unexpected(*error);
    return task.lastPath();
}

// One offered list: share page, direct link, download beside the old list, checks, replacement, version.
common::Result<void, std::string> refresh(const Offer &offer, const std::string &page,
    const platform::ProgramPaths &paths, const settings::Settings &settings)
{
    const std::function<download::ProxySetting()> proxy = downloads::settingsProxy(settings);
    const download::Fetcher fetch = downloads::proxiedFetcher(proxy);
    const auto link = update::resolveListLink(page, offer.category, fetch);
    if (!link.has_value())
        return common::unexpected(link.error());
    const catalog::Category &category = catalog::category(offer.category);
    const std::filesystem::path list = catalog::categoryFile(paths.lists, category);
    const auto pending = update::clearPendingList(list);
    if (!pending.has_value())
        return common::unexpected(pending.error());
    const update::ListExpectation expected = update::listExpectation(page, offer.category);
    const auto downloaded
        = downloadList(update::listTaskParam(link.value(), pending.value(), page, offer.category, fetch, {}, proxy()));
    if (!downloaded.has_value())
        return common::unexpected(download::describeDownloadError(downloaded.error()));
    if (const auto installed = update::installList(downloaded.value(), list, category, expected);
        !installed.has_value())
        return installed;
    if (!settings.write(update::versionSetting(offer.category), offer.remote))
        return common::unexpected(common::gbk("新的列表已经换上，但版本无法写入配置文件"));
    return {};
}

} // namespace

int updateCommand(const platform::ProgramPaths &paths, const std::vector<std::string> &args, Streams &streams)
{
    const bool checkOnly = args.size() == 1 && args[0] == "--check";
    if (!args.empty() && !checkOnly)
        return usage(streams, "update [--check]");
    const settings::Settings settings(paths.settings, paths.data);
    std::vector<std::string> problems;
    const update::ChannelConfig config
        = update::programChannel(paths, {}, problems, downloads::settingsProxy(settings));
    for (const std::string &problem : problems)
        streams.err += "kavo-cli: " + problem + "\n";
    const update::ManifestRead read = update::readChannelManifest(config);
    if (read.page.empty()) {
        streams.err += "kavo-cli: " + utf8FromGbk(read.refusal) + "\n";
        return 1;
    }
    int status = 0;
    for (const Offer &offer : offers(read.page, settings)) {
        const std::string name = utf8FromGbk(catalog::category(offer.category).name);
        if (checkOnly || !offer.offered) {
            streams.out += name + "\t" + utf8FromGbk(offer.local) + "\t" + utf8FromGbk(offer.remote) + "\t"
                + (offer.offered ? "是" : "否") + "\n";
            continue;
        }
        const auto refreshed = refresh(offer, read.page, paths, settings);
        if (refreshed.has_value()) {
            streams.out += name + "\t" + utf8FromGbk(offer.local) + "\t" + utf8FromGbk(offer.remote) + "\t更新完毕\n";
        } else {
            streams.out += name + "\t" + utf8FromGbk(offer.local) + "\t" + utf8FromGbk(offer.remote) + "\t更新失败\n";
            streams.err += "kavo-cli: " + name + ": 更新失败：" + utf8FromGbk(refreshed.error()) + "\n";
            status = 1;
        }
    }
    return status;
}

} // namespace cli
