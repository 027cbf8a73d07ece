#include "cli/commands.h"

#include "catalog/loader.h"
#include "catalog/search.h"
#include "cli/channel.h"
#include "cli/orderedrows.h"
#include "cli/progressreport.h"
#include "cli/records.h"
#include "cli/searchhits.h"
#include "cli/stretchwork.h"
#include "common/gbk.h"
#include "download/conversions.h"
#include "download/downloaderror.h"
#include "download/fetch.h"
#include "download/links.h"
#include "download/progress.h"
#include "download/sharepage.h"
#include "downloads/options.h"
#include "downloads/store.h"
#include "feedback/feedback.h"
#include "feedback/mailsender.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "publish/publisher.h"
#include "publish/readback.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "update/manifest.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <thread>

namespace cli {

namespace {

// Writes `bytes` to the output file unless an earlier write failed; remembers the first failure.
void send(Streams &streams, std::string_view bytes)
{
    if (streams.writeError != 0 || bytes.empty())
        return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), streams.outFile) != bytes.size())
        streams.writeError = errno != 0 ? errno : EIO;
}

} // namespace

void Streams::flush()
{
    if (!outFile)
        return;
    send(*this, out);
    out.clear();
}

void Streams::write(std::string_view bytes)
{
    if (!outFile) {
        out += bytes;
        return;
    }
    flush();
    send(*this, bytes);
}

namespace {

using common::gbkFromUtf8;
using common::utf8FromGbk;

constexpr const char *Usage
    = "usage: kavo-cli [--home DIR] COMMAND ...\n"
      "       kavo-cli --help | -h | --version\n"
      "  list CATEGORY [--sort name|size|time] [--new]\n"
      "                                    一个分类（1-5 或分类名）的各行：可排序，或只列出\n"
      "                                    上次更新带来的新记录\n"
      "  setting get SECTION KEY [DEFAULT] 读配置文件中的一个值\n"
      "  setting set SECTION KEY VALUE     写入一个值\n"
      "  search TEXT [--sort name|size|time] 在全部五个分类中搜索\n"
      "  link thunder|flashget|qqdl ADDRESS 下载工具的链接\n"
      "  fetch URL                         网页的原始内容\n"
      "  page URL START END                网页中两个标记之间的文本\n"
      "  download URL TARGET [-n N] [--sha256 HEX] [--limit-rate RATE]\n"
      "                                    用 N 个连接（默认 10）下载文件，取得文件名之前\n"
      "                                    核对它的 SHA-256，总速度每秒最多 RATE 字节（可加 K、M）\n"
      "  feedback NAME CONTENT             像反馈页面一样发送反馈邮件\n"
      "  manifest LABEL                    服务器上更新清单的一个字段（不核对签名；见 update）\n"
      "  resolve SHARE_URL                 分享页面的文件信息和下载直链\n"
      "  decode TEXT                       百分号解码，并从 UTF-8 转为 GBK\n"
      "  utf8-to-gb18030                   从标准输入转换到标准输出\n"
      "  publish SRC OUT (--base URL | --address TEMPLATE) [--sign SECRET_KEY]\n"
      "                                    检查分类源文件，写出列表、更新清单页面及其签名；\n"
      "                                    --base：给静态网站的整个目录，\n"
      "                                    --address：TEMPLATE 中的 {category} 代表列表名\n"
      "  update [--check]                  不开窗口做更新检查（不加 --check 时还更新\n"
      "                                    每个有新版本的列表）\n"
      "  downloads                         下载列表，每个下载一行：状态（waiting、running、\n"
      "                                    paused、finished、failed）、名称、字节数（0：未知）、\n"
      "                                    百分比、失败的原因\n";

struct Context
{
    platform::ProgramPaths paths;
    std::vector<std::string> args; // after the command word
    Streams &streams;

    // Prints one record of GBK fields.
    void print(std::initializer_list<std::string_view> fields) const { streams.out += utf8Record(fields); }

    int fail(const std::string &utf8Message) const
    {
        streams.err += "kavo-cli: " + utf8Message + "\n";
        return 2;
    }

    // How the command is written, when it was not.
    int usage(const std::string &syntax) const { return fail("用法：kavo-cli " + syntax); }

    // A list file that was not read to its end: the lines already printed stand, the command has failed.
    int failRead(const catalog::ReadFailure &failure) const
    {
        return fail("无法读取 " + failure.file.string() + "：" + failure.cause.describe());
    }
};

// Threads that work on the stretches of a list file side by side.
unsigned workers()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

// The words of a `list` or `search` command: its one positional argument, `--sort name|size|time` and, where
// `allowNew`, `--new`. Nothing when they do not fit.
std::optional<std::pair<std::string, RowChoice>> rowChoice(const std::vector<std::string> &args, bool allowNew)
{
    std::vector<std::string> positional;
    RowChoice choice;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--sort" && i + 1 < args.size() && !choice.sort) {
            choice.sort = sortKeyNamed(args[++i]);
            if (!choice.sort)
                return std::nullopt;
        } else if (args[i] == "--new" && allowNew) {
            choice.onlyNew = true;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 1)
        return std::nullopt;
    return std::pair{positional[0], choice};
}

// How much of a list file `list` and `search` read at a time: more than the reader's default, so that reads,
// writes and hand-overs between threads are rarer, while a stretch and its output still fit the processor's
// cache.
constexpr std::size_t ScanStretchBytes = 512 * 1024;

int listCategory(const Context &c)
{
    const auto words = rowChoice(c.args, true);
    if (!words)
        return c.usage("list CATEGORY [--sort name|size|time] [--new]");
    const auto &[name, choice] = *words;
    const int number = catalog::categoryNumber(gbkFromUtf8(name));
    if (number == 0)
        return c.fail("没有这个分类：" + name);
    const catalog::Category &category = catalog::category(number);
    if (choice.sort || choice.onlyNew) {
        if (const auto read
            = writeChosenRows(catalog::categoryFile(c.paths.lists, category), category, choice, c.streams);
            !read.has_value())
            return c.failRead(read.error());
        return 0;
    }
    const std::string tag = "\t" + utf8FromGbk(category.tag) + "\n"; // the tags hold nothing to escape
    const StretchWork writeRows = [&category, &tag](std::string_view stretch, std::string &out) {
        out.reserve(stretch.size()); // rows take about as much room as their records
        catalog::forEachItem(stretch, category, [&out, &tag](const catalog::ItemView &item) {
            appendUtf8Record(out, {{"", item.name}, {"\t", item.size}, {"\t", item.time}, {"\t ", item.address}}, tag);
        });
    };
    if (const auto read = writeStretches(
            catalog::categoryFile(c.paths.lists, category), writeRows, c.streams, workers(), ScanStretchBytes);
        !read.has_value())
        return c.failRead(read.error());
    return 0;
}

int setting(const Context &c)
{
    const std::filesystem::path file = settings::Settings(c.paths.settings).file();
    const auto &a = c.args;
    if (a.size() >= 3 && a.size() <= 4 && a[0] == "get") {
        const std::string value = settings::ReadSetting(
            file, gbkFromUtf8(a[1]), gbkFromUtf8(a[2]), a.size() == 4 ? gbkFromUtf8(a[3]) : std::string());
        c.print({value});
        return 0;
    }
    if (a.size() == 4 && a[0] == "set") {
        // What GBK cannot hold would be written as "?" and not read back: refused.
        static constexpr std::array<const char *, 3> What{"节名", "键名", "值"};
        std::array<std::string, 3> gbkArguments;
        for (std::size_t i = 0; i < gbkArguments.size(); ++i) {
            const auto converted = publish::gbkFromSource(a[i + 1]);
            if (!converted.has_value())
                return c.fail(std::string("无法写入配置文件：") + What[i] + converted.error().reason);
            gbkArguments[i] = *converted;
        }
        settings::clearStaleTemporaries(file);
        const auto written = settings::saveSetting(file, gbkArguments[0], gbkArguments[1], gbkArguments[2]);
        if (!written.has_value())
            return c.fail("无法写入配置文件：" + utf8FromGbk(written.error().detail));
        return 0;
    }
    return c.usage("setting get SECTION KEY [DEFAULT] | setting set SECTION KEY VALUE");
}

int search(const Context &c)
{
    const auto words = rowChoice(c.args, false);
    if (!words)
        return c.usage("search TEXT [--sort name|size|time]");
    const std::string text = gbkFromUtf8(words->first);
    std::vector<catalog::ReadFailure> failures;
    const std::optional<bool> found = words->second.sort
        ? writeSortedHits(c.paths.lists, text, *words->second.sort, c.streams, failures)
        : writeHitsInFileOrder(c.paths.lists, text, c.streams, {workers(), ScanStretchBytes}, failures);
    if (!found)
        return 2;
    if (!*found)
        c.streams.err += utf8FromGbk(common::gbk("没有找到<") + text + common::gbk(">的相关内容!")) + "\n";
    for (const catalog::ReadFailure &failure : failures)
        c.failRead(failure);
    return !failures.empty() ? 2 : *found ? 0 : 1;
}

int link(const Context &c)
{
    if (c.args.size() != 2)
        return c.usage("link thunder|flashget|qqdl ADDRESS");
    const std::string address = gbkFromUtf8(c.args[1]);
    const std::map<std::string, std::string (*)(std::string_view)> builders{
        {"thunder", download::thunderLink}, {"flashget", download::flashgetLink}, {"qqdl", download::qqdlLink}};
    const auto builder = builders.find(c.args[0]);
    if (builder == builders.end())
        return c.fail("没有这种链接：" + c.args[0]);
    c.streams.out += builder->second(address) + "\n";
    return 0;
}

// The reason of a failed fetch or download, in the program's words, for stderr.
std::string reasonText(const std::string &utf8Lead, const download::DownloadError &error)
{
    return "kavo-cli: " + utf8Lead + utf8FromGbk(download::describeDownloadError(error)) + "\n";
}

// The program's fetch: through the proxy the downloads list's options name.
download::FetchOptions fetchOptions(const Context &c)
{
    download::FetchOptions options;
    options.proxy = downloads::readQueueOptions(settings::Settings(c.paths.settings)).proxy;
    return options;
}

// Exit 0 only when an answer came and arrived whole; its status is not examined.
int fetch(const Context &c)
{
    if (c.args.size() != 1)
        return c.usage("fetch URL");
    const auto page = download::fetchPage(c.args[0], fetchOptions(c));
    if (!page.has_value()) {
        c.streams.err += reasonText("没有得到回答：", page.error());
        return 1;
    }
    c.streams.out += page->body;
    if (page->brokenOff) {
        c.streams.err += reasonText("回答没有完整收到：", *page->brokenOff);
        return 1;
    }
    return 0;
}

// FetchUrl as the program makes it, keeping the first reason a page did not come whole or came as an error
// page: where the program reads such a page as empty values, the commands fail and say why.
class ReasonedFetch
{
public:
    explicit ReasonedFetch(download::FetchOptions options)
        : m_options(std::move(options))
    {
    }
    std::string operator()(const std::string &url)
    {
        auto page = download::fetchPage(url, m_options);
        if (!page.has_value()) {
            keep(page.error());
            return {};
        }
        if (page->status >= 400)
            keep({download::DownloadError::Kind::HttpStatus, false, static_cast<int>(page->status), {}});
        else if (page->brokenOff)
            keep(*page->brokenOff);
        return std::move(page->body);
    }
    const std::optional<download::DownloadError> &failure() const { return m_failure; }

private:
    void keep(const download::DownloadError &error)
    {
        if (!m_failure)
            m_failure = error;
    }
    download::FetchOptions m_options;
    std::optional<download::DownloadError> m_failure;
};

// The UTF-8 body of a page that came whole and reads as UTF-8; else the reason on stderr and nothing.
std::optional<std::string> wholePage(const Context &c, const std::string &url)
{
    ReasonedFetch fetch(fetchOptions(c));
    std::string body = fetch(url);
    if (fetch.failure()) {
        c.streams.err += reasonText("页面没有读到：", *fetch.failure());
        return std::nullopt;
    }
    if (!body.empty() && download::Utf8ToGb18030(body).empty()) {
        c.streams.err += "kavo-cli: 页面不是有效的 UTF-8 文本：" + url + "\n";
        return std::nullopt;
    }
    return body;
}

int page(const Context &c)
{
    if (c.args.size() != 3)
        return c.usage("page URL START END");
    const auto body = wholePage(c, c.args[0]);
    if (!body)
        return 1;
    const std::string text = download::Utf8ToGb18030(*body);
    c.print({download::textBetween(common::untilZero(text), gbkFromUtf8(c.args[1]), gbkFromUtf8(c.args[2]))});
    return 0;
}

int sendFeedback(const Context &c)
{
    if (c.args.size() != 2)
        return c.usage("feedback NAME CONTENT");
    const std::string name = gbkFromUtf8(c.args[0]);
    const std::string content = gbkFromUtf8(c.args[1]);
    if (const auto refusal = feedback::validateFeedback(name, content)) {
        c.streams.err += utf8FromGbk(*refusal) + "\n";
        return 1;
    }
    feedback::MailSender sender;
    if (const auto sent = feedback::submitFeedback(sender, feedback::mailConfig(), name, content); !sent.has_value()) {
        c.streams.err += utf8FromGbk(sent.error().text) + "\n";
        return 1;
    }
    c.streams.out += utf8FromGbk(common::gbk("你提交的信息已经受理，如有问题请直接联系QQ500600700")) + "\n";
    return 0;
}

int manifest(const Context &c)
{
    if (c.args.size() != 1)
        return c.usage("manifest LABEL");
    const auto body = wholePage(c, update::manifestUrl());
    if (!body)
        return 1;
    c.print({update::readManifestField(
        [&body](const std::string &) { return *body; }, update::manifestUrl(), gbkFromUtf8(c.args[0]))});
    return 0;
}

int resolve(const Context &c)
{
    if (c.args.size() != 1)
        return c.usage("resolve SHARE_URL");
    ReasonedFetch fetch(fetchOptions(c));
    const download::ShareResolution share
        = download::resolveShare(c.args[0], [&fetch](const std::string &url) { return fetch(url); });
    c.print({"name", share.facts.name});
    c.print({"size", share.facts.size});
    c.print({"time", share.facts.time});
    c.print({"count", share.facts.count});
    c.print({"dlink", share.directLink});
    if (share.supported && !share.directLink.empty())
        return 0;
    c.streams.err += share.supported ? "kavo-cli: 分享页面中没有找到下载直链\n"
                                     : utf8FromGbk(common::gbk("抱歉，当前下载器暂不支持其他网盘的下载地址!")) + "\n";
    if (fetch.failure())
        c.streams.err += reasonText("页面没有读到：", *fetch.failure());
    return 1;
}

int decode(const Context &c)
{
    if (c.args.size() != 1)
        return c.usage("decode TEXT");
    c.print({download::DecodePage(c.args[0])});
    return 0;
}

int utf8ToGb18030(const Context &c)
{
    if (!c.args.empty())
        return c.usage("utf8-to-gb18030（从标准输入读，写到标准输出）");
    std::string input;
    char buffer[65536];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin))
        input.append(buffer, n);
    const std::string output = download::Utf8ToGb18030(input);
    c.streams.out += output;
    return output.empty() && !input.empty() ? 1 : 0;
}

// The decimal number that `text` is, whole; nothing for any other text or a number out of int's range.
std::optional<int> wholeNumber(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

int downloadFile(const Context &c)
{
    constexpr const char *DownloadUsage = "download URL TARGET [-n N] [--sha256 HEX] [--limit-rate RATE]";
    DownloadOptions options;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < c.args.size(); ++i) {
        if (c.args[i] == "-n" && i + 1 < c.args.size()) {
            const auto connections = wholeNumber(c.args[++i]);
            if (!connections)
                return c.fail("-n 后面应是连接数（整数），而不是：" + c.args[i]);
            options.connections = std::max(1, *connections);
        } else if (c.args[i] == "--sha256" && i + 1 < c.args.size()) {
            options.sha256 = common::sha256FromHex(c.args[++i]);
            if (!options.sha256)
                return c.fail("--sha256 后面应是 64 个十六进制数字，而不是：" + c.args[i]);
        } else if (c.args[i] == "--limit-rate" && i + 1 < c.args.size()) {
            const auto rate = download::parseRate(c.args[++i]);
            if (!rate)
                return c.fail("--limit-rate 后面应是每秒字节数（数字后可加 K 或 M），而不是：" + c.args[i]);
            options.maxBytesPerSecond = *rate;
        } else {
            positional.push_back(c.args[i]);
        }
    }
    if (positional.size() != 2)
        return c.usage(DownloadUsage);
    // The target stays the native path it is: a name that GBK cannot spell must not become another path.
    const auto outcome = runDownload(positional[0], std::filesystem::path(positional[1]), options, c.streams);
    if (!outcome.has_value()) {
        c.streams.err += reasonText("下载失败：", outcome.error());
        return 1;
    }
    c.streams.out += outcome.value().native() + "\n";
    return 0;
}

int listDownloads(const Context &c)
{
    if (!c.args.empty())
        return c.usage("downloads");
    const std::filesystem::path file = downloads::storeFile(c.paths.lists);
    const downloads::StoreContents store = downloads::readStore(file);
    for (const downloads::Item &item : store.items) {
        const std::string size = std::to_string(item.size);
        const std::string percent = std::to_string(downloads::percentOf(item));
        c.print({downloads::stateWord(item.state), item.name, size, percent, item.reason});
    }
    if (store.problem.empty())
        return 0;
    c.streams.err += "kavo-cli: " + file.string() + ": " + utf8FromGbk(store.problem) + "\n";
    return 1;
}

const std::map<std::string, std::function<int(const Context &)>> &commandTable()
{
    static const std::map<std::string, std::function<int(const Context &)>> table{
        {"list", listCategory},
        {"setting", setting},
        {"search", search},
        {"link", link},
        {"fetch", fetch},
        {"page", page},
        {"decode", decode},
        {"resolve", resolve},
        {"manifest", manifest},
        {"feedback", sendFeedback},
        {"utf8-to-gb18030", utf8ToGb18030},
        {"download", downloadFile},
        {"downloads", listDownloads},
        {"publish", [](const Context &c) { return publishCommand(c.args, c.streams); }},
        {"update", [](const Context &c) { return updateCommand(c.paths, c.args, c.streams); }},
    };
    return table;
}

int runCommand(const std::vector<std::string> &arguments, Streams &streams)
{
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        streams.out += Usage;
        return 0;
    }
    if (arguments.size() == 1 && arguments[0] == "--version") {
        streams.out += "kavo-cli " KAVO_VERSION "\n";
        return 0;
    }
    std::size_t at = 0;
    platform::ProgramPaths paths;
    if (arguments.size() >= 2 && arguments[0] == "--home") {
        paths = platform::ProgramPaths(arguments[1]);
        at = 2;
    } else {
        paths = platform::programPaths();
    }
    if (at >= arguments.size() || !commandTable().contains(arguments[at])) {
        streams.err += Usage;
        streams.err
            += at >= arguments.size() ? "kavo-cli: 没有给出命令\n" : "kavo-cli: 没有这个命令：" + arguments[at] + "\n";
        return 2;
    }
    const platform::PreparedFiles prepared = platform::prepareUserFiles(paths);
    if (const auto notice = platform::describePreparation(prepared))
        streams.err += "kavo-cli: " + *notice + "\n";
    Context context{
        prepared.paths, {arguments.begin() + static_cast<std::ptrdiff_t>(at + 1), arguments.end()}, streams};
    const int status = commandTable().at(arguments[at])(context);
    // A command that changes the user's files has not done its job when they cannot be kept.
    const bool writesSettings = arguments[at] == "setting" && !context.args.empty() && context.args[0] == "set";
    if (status == 0 && !prepared.settingsKept && writesSettings)
        return 2;
    return status;
}

} // namespace

int run(const std::vector<std::string> &arguments, Streams &streams)
{
    const int status = runCommand(arguments, streams);
    streams.flush();
    if (streams.writeError == 0)
        return status;
    // A reader that stopped reading (the head of a pipe) wanted no more: that needs no words.
    if (streams.writeError != EPIPE)
        streams.err += "kavo-cli: 无法写出结果："
            + platform::FileError{platform::FileError::Kind::System, streams.writeError}.describe() + "\n";
    return 2;
}

} // namespace cli
