#include "update/channel.h"

#include "common/gbk.h"
#include "download/conversions.h"
#include "download/httpanswer.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "signing/minisign.h"
#include "update/manifest.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <curl/curl.h>
#include <random>

namespace update {

using common::gbk;

namespace {

constexpr std::size_t MaxPageBytes = 1 << 20; // a manifest page is a few kilobytes
constexpr std::size_t MaxSignatureBytes = 64 * 1024;
constexpr std::size_t MaxStateBytes = 64 * 1024;
constexpr std::size_t MaxKeyFileBytes = 4096;
constexpr std::size_t MaxValidatorBytes = 1024; // an ETag or a date; a longer one is not kept
constexpr std::chrono::seconds PageDeadline{30};
constexpr std::chrono::milliseconds BackoffBase{1000};
constexpr std::chrono::milliseconds BackoffCap{60000};
// A Retry-After beyond this is a server that will not answer during this start.
constexpr std::chrono::seconds LongestRetryAfter{120};

struct Validators
{
    std::string etag;
    std::string modified;
};

// The copy of the manifest page that was last accepted, and what the server said about it.
struct Kept
{
    std::string page;
    std::string signature;
    Validators pageValidators;
    Validators signatureValidators;
    std::int64_t accepted = 0; // the timestamp of the accepted signature
    bool verified = false; // a trusted key vouched for `page`
};

std::filesystem::path stateFile(const std::filesystem::path &folder)
{
    return folder / "manifest.state";
}

platform::ReplaceOptions publicFile()
{
    platform::ReplaceOptions options;
    options.mode = 0644;
    return options;
}

std::string readUpTo(const std::filesystem::path &file, std::size_t limit)
{
    auto text = platform::readWhole(file, {limit});
    return text.has_value() ? std::move(text.value()) : std::string();
}

// "name=value" lines; a value holds no line break, since header values cannot.
std::string stateText(const Kept &kept)
{
    return "page-etag=" + kept.pageValidators.etag + "\npage-modified=" + kept.pageValidators.modified
        + "\nsignature-etag=" + kept.signatureValidators.etag
        + "\nsignature-modified=" + kept.signatureValidators.modified + "\naccepted=" + std::to_string(kept.accepted)
        + "\nverified=" + (kept.verified ? "1" : "0") + "\n";
}

Kept readKept(const std::filesystem::path &folder)
{
    Kept kept;
    const std::string state = readUpTo(stateFile(folder), MaxStateBytes);
    std::string_view rest = state;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, equals);
        const std::string value(line.substr(equals + 1));
        if (name == "page-etag")
            kept.pageValidators.etag = value;
        else if (name == "page-modified")
            kept.pageValidators.modified = value;
        else if (name == "signature-etag")
            kept.signatureValidators.etag = value;
        else if (name == "signature-modified")
            kept.signatureValidators.modified = value;
        else if (name == "accepted")
            kept.accepted = download::parseNumber(value).value_or(0);
        else if (name == "verified")
            kept.verified = value == "1";
    }
    kept.page = readUpTo(manifestPageFile(folder), MaxPageBytes);
    kept.signature = readUpTo(manifestSignatureFile(folder), MaxSignatureBytes);
    if (kept.page.empty()) {
        // Validators of a copy that is gone would earn a 304 with nothing to use; the timestamp still counts.
        Kept none;
        none.accepted = kept.accepted;
        return none;
    }
    return kept;
}

// The copy is a cache: when it cannot be written, the next start reads the page in full again.
void keep(const std::filesystem::path &folder, const Kept &kept)
{
    (void)platform::makeFolders(folder);
    (void)platform::replaceFile(manifestPageFile(folder), kept.page, publicFile());
    (void)platform::replaceFile(manifestSignatureFile(folder), kept.signature, publicFile());
    (void)platform::replaceFile(stateFile(folder), stateText(kept), publicFile());
}

struct Answer
{
    enum class Kind
    {
        Fresh,
        NotModified,
        Failed
    } kind
        = Kind::Failed;
    std::string body;
    Validators validators;
    std::string reason; // GBK, for Failed
    long status = 0;
};

std::vector<std::string> conditionalHeaders(const Validators &validators)
{
    std::vector<std::string> headers;
    if (!validators.etag.empty())
        headers.push_back("If-None-Match: " + validators.etag);
    if (!validators.modified.empty())
        headers.push_back("If-Modified-Since: " + validators.modified);
    return headers;
}

std::string statusReason(long status)
{
    return download::describeDownloadError(
        {download::DownloadError::Kind::HttpStatus, false, static_cast<int>(status), {}});
}

// One answer taken apart; `retry` tells whether another try may help, `floor` how long the server asked us to
// wait first.
Answer judge(const common::Result<download::FetchedPage, download::DownloadError> &fetched, bool haveCopy,
    std::size_t limit, bool &retry, std::chrono::milliseconds &floor)
{
    Answer answer;
    retry = false;
    if (!fetched.has_value()) {
        answer.reason = download::describeDownloadError(fetched.error());
        retry = fetched.error().retryable;
        return answer;
    }
    const download::FetchedPage &page = fetched.value();
    answer.status = page.status;
    if (page.status == 304 && haveCopy) {
        answer.kind = Answer::Kind::NotModified;
        return answer;
    }
    if (page.status == 200 && !page.brokenOff && page.body.size() <= limit) {
        answer.kind = Answer::Kind::Fresh;
        answer.body = page.body;
        answer.validators = {download::headerOf(page, "ETag"), download::headerOf(page, "Last-Modified")};
        for (std::string *validator : {&answer.validators.etag, &answer.validators.modified}) {
            if (validator->size() > MaxValidatorBytes || validator->find_first_of("\r\n") != std::string::npos)
                validator->clear();
        }
        return answer;
    }
    if (page.status == 200) {
        answer.reason = page.body.size() > limit || !page.brokenOff ? gbk("页面太大")
                                                                    : download::describeDownloadError(*page.brokenOff);
        retry = page.brokenOff && page.brokenOff->retryable;
        return answer;
    }
    answer.reason = statusReason(page.status);
    retry = page.status == 408 || page.status == 429 || page.status >= 500;
    if (page.status == 429 || page.status == 503) {
        const auto asked = parseRetryAfter(download::headerOf(page, "Retry-After"), std::time(nullptr));
        if (asked && *asked > LongestRetryAfter)
            retry = false;
        else if (asked)
            floor = *asked;
    }
    return answer;
}

Answer fetchConditional(const ChannelConfig &config, const std::string &url, const Validators &kept, bool haveCopy,
    std::size_t limit, int &requests)
{
    const std::vector<std::string> headers = haveCopy ? conditionalHeaders(kept) : std::vector<std::string>();
    Answer answer;
    for (int attempt = 1; attempt <= std::max(config.tries, 1); ++attempt) {
        ++requests;
        bool retry = false;
        std::chrono::milliseconds floor{0};
        answer = judge(config.fetch(url, headers), haveCopy, limit, retry, floor);
        if (answer.kind != Answer::Kind::Failed || !retry || attempt == config.tries)
            break;
        if (config.wait)
            config.wait(backoffDelay(attempt, config.random ? config.random() : 0.5, floor));
    }
    return answer;
}

ManifestRead refused(std::string reason, const Kept &kept, bool keysTrusted, int requests, bool answered)
{
    ManifestRead read;
    read.noticePage = kept.verified || !keysTrusted ? kept.page : std::string();
    read.refusal = std::move(reason);
    read.refused = answered;
    read.requests = requests;
    return read;
}

// The timestamp below which a signature is a replay: the larger of the cache's and the file kept apart from it.
// Nothing when that file is there but does not read as a time.
std::optional<std::int64_t> acceptedFloor(const ChannelConfig &config, const Kept &kept)
{
    if (config.acceptedFile.empty())
        return kept.accepted;
    auto read = platform::readWhole(config.acceptedFile, {64});
    if (!read.has_value())
        return read.error().kind == platform::FileError::Kind::Missing ? std::optional(kept.accepted) : std::nullopt;
    std::string &text = read.value();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (const auto seconds = download::parseNumber(text))
        return std::max(*seconds, kept.accepted);
    return std::nullopt;
}

std::string signatureRefusal(const Answer &answer)
{
    if (answer.status == 404 || answer.status == 410)
        return gbk("更新清单没有签名");
    return gbk("更新清单的签名无法取得：") + answer.reason;
}

} // namespace

ChannelConfig programChannel(const platform::ProgramPaths &paths, std::stop_token stop,
    std::vector<std::string> &problems, std::function<download::ProxySetting()> proxy)
{
    ChannelConfig config;
    config.manifestUrl = manifestUrl();
    config.cacheFolder = paths.cache;
    const char *extra = std::getenv("KAVO_CATALOG_KEY");
    const std::size_t known = problems.size();
    config.trustedKeys = loadTrustedKeys(paths.data / "keys", extra ? extra : "", problems);
    config.keysRequired = !config.trustedKeys.empty() || problems.size() > known || (extra && *extra);
    config.acceptedFile = paths.settings / "manifest.accepted";
    config.fetch = [stop, proxy = std::move(proxy)](const std::string &url, const std::vector<std::string> &headers) {
        download::FetchOptions options;
        options.stop = stop;
        if (proxy)
            options.proxy = proxy();
        options.requestHeaders = headers;
        options.maxBodyBytes = MaxPageBytes + 1;
        options.totalTimeout = PageDeadline;
        return download::fetchPage(url, options);
    };
    config.wait = [stop](std::chrono::milliseconds delay) {
        std::mutex mutex;
        std::condition_variable_any woken;
        std::unique_lock lock(mutex);
        woken.wait_for(lock, stop, delay, [] { return false; });
    };
    config.random = [] {
        thread_local std::mt19937_64 generator{std::random_device{}()};
        return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
    };
    return config;
}

ManifestRead readChannelManifest(const ChannelConfig &config)
{
    const Kept kept = readKept(config.cacheFolder);
    const bool keysTrusted = !config.trustedKeys.empty() || config.keysRequired;
    int requests = 0;
    const Answer page
        = fetchConditional(config, config.manifestUrl, kept.pageValidators, !kept.page.empty(), MaxPageBytes, requests);
    if (page.kind == Answer::Kind::Failed)
        return refused(gbk("无法读取更新清单：") + page.reason, kept, keysTrusted, requests, false);
    Kept accepted = kept;
    if (page.kind == Answer::Kind::Fresh) {
        accepted.page = page.body;
        accepted.pageValidators = page.validators;
    }
    ManifestRead read;
    if (keysTrusted) {
        if (config.trustedKeys.empty())
            return refused(gbk("信任的目录密钥无法读取"), kept, keysTrusted, requests, true);
        const bool sameCopy = page.kind == Answer::Kind::NotModified && !kept.signature.empty();
        const Answer signature = fetchConditional(
            config, config.manifestUrl + ".minisig", kept.signatureValidators, sameCopy, MaxSignatureBytes, requests);
        if (signature.kind == Answer::Kind::Failed)
            return refused(signatureRefusal(signature), kept, keysTrusted, requests, true);
        if (signature.kind == Answer::Kind::Fresh) {
            accepted.signature = signature.body;
            accepted.signatureValidators = signature.validators;
        }
        const auto verified = signing::verify(config.trustedKeys, accepted.page, accepted.signature);
        if (!verified.has_value())
            return refused(common::gbkFromUtf8(signing::describe(verified.error())), kept, keysTrusted, requests, true);
        const std::optional<std::int64_t> timestamp = signing::trustedTimestamp(verified->trustedComment);
        if (!timestamp)
            return refused(gbk("更新清单的签名没有时间戳"), kept, keysTrusted, requests, true);
        const std::optional<std::int64_t> floor = acceptedFloor(config, kept);
        if (!floor)
            return refused(gbk("上次接受的清单时间无法读取"), kept, keysTrusted, requests, true);
        if (*timestamp < *floor)
            return refused(gbk("更新清单比上次接受的旧，可能是被重放的旧清单"), kept, keysTrusted, requests, true);
        if (!config.acceptedFile.empty() && *timestamp > *floor)
            (void)platform::replaceFile(config.acceptedFile, std::to_string(*timestamp) + "\n", publicFile());
        accepted.accepted = *timestamp;
        accepted.verified = true;
        read.signatureChecked = true;
        read.notModified = page.kind == Answer::Kind::NotModified && signature.kind == Answer::Kind::NotModified;
    } else {
        accepted.signature.clear();
        accepted.signatureValidators = {};
        accepted.verified = false;
        read.notModified = page.kind == Answer::Kind::NotModified;
    }
    if (!read.notModified)
        keep(config.cacheFolder, accepted);
    read.page = accepted.page;
    read.noticePage = accepted.page;
    read.requests = requests;
    return read;
}

ManifestOnce::ManifestOnce(std::function<ManifestRead()> reader)
    : m_reader(std::move(reader))
{
}

const ManifestRead &ManifestOnce::get()
{
    std::call_once(m_once, [this] { m_read = m_reader(); });
    return m_read;
}

std::string pageField(const std::string &page, const std::string &label)
{
    return readManifestField([&page](const std::string &) { return page; }, std::string(), label);
}

ListExpectation listExpectation(const std::string &page, int category)
{
    ListExpectation expected;
    expected.size = download::parseNumber(pageField(page, sizeLabel(category)));
    expected.sha256 = common::sha256FromHex(pageField(page, checksumLabel(category)));
    return expected;
}

common::Result<void, std::string> checkListFile(const std::filesystem::path &file, const ListExpectation &expected)
{
    const auto fd = platform::openForReading(file);
    if (!fd.has_value())
        return common::unexpected(gbk("新的列表无法读取"));
    common::Sha256 hash;
    std::int64_t size = 0;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const auto got = platform::readAt(fd->get(), buffer.data(), buffer.size(), size);
        if (!got.has_value())
            return common::unexpected(gbk("新的列表无法读取"));
        if (got.value() == 0)
            break;
        hash.add(buffer.data(), got.value());
        size += static_cast<std::int64_t>(got.value());
    }
    if (expected.size && *expected.size != size)
        return common::unexpected(gbk("新列表的大小与更新清单不符（应为 ") + std::to_string(*expected.size)
            + gbk(" 字节，实为 ") + std::to_string(size) + gbk(" 字节）"));
    if (expected.sha256 && *expected.sha256 != hash.finish())
        return common::unexpected(gbk("文件校验不符：新列表与更新清单给出的 SHA-256 不同"));
    return {};
}

std::vector<signing::PublicKey> loadTrustedKeys(
    const std::filesystem::path &keysFolder, const std::string &extraKey, std::vector<std::string> &problems)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (auto entry = std::filesystem::directory_iterator(keysFolder, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        if (entry->path().extension() == ".pub")
            files.push_back(entry->path());
    }
    std::sort(files.begin(), files.end());
    if (!extraKey.empty())
        files.emplace_back(extraKey);
    std::vector<signing::PublicKey> keys;
    for (const std::filesystem::path &file : files) {
        const auto text = platform::readWhole(file, {MaxKeyFileBytes});
        if (!text.has_value()) {
            problems.push_back(file.string() + "：无法读取密钥文件：" + text.error().describe());
            continue;
        }
        auto key = signing::readPublicKey(text.value());
        if (key.has_value())
            keys.push_back(key.value());
        else
            problems.push_back(file.string() + "：" + signing::describe(key.error()));
    }
    return keys;
}

std::chrono::milliseconds backoffDelay(int attempt, double random, std::chrono::milliseconds floor)
{
    std::chrono::milliseconds ceiling = BackoffBase;
    for (int i = 1; i < attempt && ceiling < BackoffCap; ++i)
        ceiling *= 2;
    ceiling = std::min(ceiling, BackoffCap);
    const auto jittered
        = std::chrono::milliseconds(static_cast<std::int64_t>(std::clamp(random, 0.0, 1.0) * ceiling.count()));
    return std::max(jittered, floor);
}

std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value, std::int64_t now)
{
    if (value.empty() || value.size() > 64)
        return std::nullopt;
    if (const auto seconds = download::parseNumber(value))
        return std::chrono::seconds(std::min<std::int64_t>(*seconds, 1'000'000'000));
    const std::string text(value);
    const time_t when = curl_getdate(text.c_str(), nullptr);
    if (when < 0)
        return std::nullopt;
    return std::chrono::seconds(std::max<std::int64_t>(static_cast<std::int64_t>(when) - now, 0));
}

} // namespace update
