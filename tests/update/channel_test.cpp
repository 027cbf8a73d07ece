#include "common/gbk.h"
#include "common/sha256.h"
#include "signing/minisign.h"
#include "support/tempdir.h"
#include "update/channel.h"
#include "update/manifest.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

using common::gbk;
using namespace update;

namespace {

using Answer = common::Result<download::FetchedPage, download::DownloadError>;

download::FetchedPage answer(long status, std::string body = {}, std::vector<std::string> headers = {})
{
    download::FetchedPage page;
    page.status = status;
    page.body = std::move(body);
    page.headers = std::move(headers);
    return page;
}

// A server that answers each address from a queue (the last answer repeats) and notes every request.
struct FakeServer
{
    std::map<std::string, std::deque<download::FetchedPage>> answers;
    std::vector<std::pair<std::string, std::vector<std::string>>> requests;

    PageFetcher fetcher()
    {
        return [this](const std::string &url, const std::vector<std::string> &headers) -> Answer {
            requests.emplace_back(url, headers);
            auto &queue = answers[url];
            if (queue.empty())
                return common::unexpected(download::DownloadError{download::DownloadError::Kind::Network, true, 0, {}});
            download::FetchedPage page = queue.front();
            if (queue.size() > 1)
                queue.pop_front();
            return page;
        };
    }
};

const std::string Url = "http://127.0.0.1:1/manifest.html";

std::string page(const std::string &notice)
{
    return common::utf8FromGbk(gbk("<p>常用软件：是-常用软件版本：1.1-公告：") + gbk(notice) + "-</p>");
}

struct Channel
{
    TempDir cache;
    FakeServer server;
    std::vector<std::chrono::milliseconds> waits;
    std::pair<signing::PublicKey, signing::SecretKey> keys = signing::generateKeyPair();

    std::filesystem::path acceptedFile;
    bool keysRequired = false;

    ManifestRead read(bool trusted = true)
    {
        ChannelConfig config;
        config.manifestUrl = Url;
        config.cacheFolder = cache.path();
        if (trusted)
            config.trustedKeys = {keys.first};
        config.fetch = server.fetcher();
        config.wait = [this](std::chrono::milliseconds delay) { waits.push_back(delay); };
        config.random = [] { return 0.5; };
        config.acceptedFile = acceptedFile;
        config.keysRequired = keysRequired;
        return readChannelManifest(config);
    }
    void serve(const std::string &text, std::int64_t timestamp, const std::string &etag = "\"a\"")
    {
        server.answers[Url] = {answer(200, text, {"ETag: " + etag})};
        server.answers[Url + ".minisig"]
            = {answer(200, signing::sign(keys.second, text, signing::trustedComment(timestamp, "manifest.html")))};
    }
};

} // namespace

TEST(Channel, AnUnchangedPageCostsA304AndIsReadFromTheCopy)
{
    Channel channel;
    channel.serve(page("一"), 100);
    const ManifestRead first = channel.read();
    ASSERT_TRUE(first.signatureChecked);
    EXPECT_EQ(pageField(first.page, gbk("公告：")), gbk("一"));
    EXPECT_EQ(first.requests, 2);
    channel.server.answers[Url] = {answer(304)};
    channel.server.answers[Url + ".minisig"] = {answer(304)};
    channel.server.requests.clear();
    const ManifestRead second = channel.read();
    EXPECT_TRUE(second.notModified);
    EXPECT_EQ(second.page, first.page);
    ASSERT_EQ(channel.server.requests.size(), 2u);
    EXPECT_EQ(channel.server.requests[0].second, std::vector<std::string>{"If-None-Match: \"a\""});
}

// Whatever is refused leaves no trace in the cache, gives no offer, and the notice of the last accepted page.
TEST(Channel, RefusedPagesAreNotUsedAndChangeNothing)
{
    Channel channel;
    channel.serve(page("旧"), 200);
    ASSERT_TRUE(channel.read().signatureChecked);
    const auto before = std::filesystem::last_write_time(channel.cache.path() / "manifest.state");
    const std::string kept = readFile(channel.cache.path() / "manifest.html");
    const auto other = signing::generateKeyPair();
    const struct
    {
        const char *name;
        std::string page;
        std::string signature;
        long signatureStatus;
        std::string reason;
    } cases[] = {
        {"an older page played back", page("更旧"),
            signing::sign(channel.keys.second, page("更旧"), signing::trustedComment(100, "manifest.html")), 200,
            "重放"},
        {"a page changed after signing", page("改"),
            signing::sign(channel.keys.second, page("原"), signing::trustedComment(300, "manifest.html")), 200, "签名"},
        {"a key we do not trust", page("他"),
            signing::sign(other.second, page("他"), signing::trustedComment(300, "manifest.html")), 200, "签名"},
        {"no signature", page("无"), "", 404, "没有签名"},
        {"a signature that is no signature", page("坏"), "garbage", 200, "签名"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        channel.server.answers[Url] = {answer(200, row.page)};
        channel.server.answers[Url + ".minisig"] = {answer(row.signatureStatus, row.signature)};
        const ManifestRead read = channel.read();
        EXPECT_TRUE(read.page.empty());
        EXPECT_TRUE(read.refused);
        EXPECT_NE(common::utf8FromGbk(read.refusal).find(row.reason), std::string::npos)
            << common::utf8FromGbk(read.refusal);
        EXPECT_EQ(read.noticePage, kept);
        EXPECT_EQ(readFile(channel.cache.path() / "manifest.html"), kept);
        EXPECT_EQ(std::filesystem::last_write_time(channel.cache.path() / "manifest.state"), before);
    }
}

TEST(Channel, BusyServersAreAskedAgainNoSoonerThanTheyAsk)
{
    Channel channel;
    channel.serve(page("一"), 100);
    channel.server.answers[Url].push_front(answer(503, "busy", {"Retry-After: 3"}));
    channel.server.answers[Url].push_front(answer(429, "busy", {"Retry-After: 7"}));
    EXPECT_TRUE(channel.read(false).page.size() > 0);
    EXPECT_EQ(
        channel.waits, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(7), std::chrono::seconds(3)}));
    // A server that asks for more time than a start can give is not waited for.
    channel.waits.clear();
    channel.server.answers[Url] = {answer(503, "", {"Retry-After: 86400"})};
    EXPECT_TRUE(channel.read(false).page.empty());
    EXPECT_TRUE(channel.waits.empty());
    // A server that never answers is tried three times, with growing waits.
    Channel silent;
    EXPECT_EQ(silent.read(false).requests, 3);
    EXPECT_EQ(silent.waits,
        (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(500), std::chrono::milliseconds(1000)}));
}

TEST(Channel, BackoffGrowsToItsCapWithFullJitterAboveTheFloor)
{
    using std::chrono::milliseconds;
    const struct
    {
        int attempt;
        double random;
        milliseconds floor;
        milliseconds delay;
    } cases[] = {
        {1, 0.5, milliseconds(0), milliseconds(500)},
        {2, 0.5, milliseconds(0), milliseconds(1000)},
        {3, 0.999, milliseconds(0), milliseconds(3996)},
        {20, 1.0, milliseconds(0), milliseconds(60000)},
        {1, 0.0, milliseconds(3000), milliseconds(3000)},
    };
    for (const auto &row : cases)
        EXPECT_EQ(backoffDelay(row.attempt, row.random, row.floor), row.delay) << row.attempt;
    EXPECT_EQ(parseRetryAfter("3", 0), std::chrono::seconds(3));
    EXPECT_EQ(parseRetryAfter("Wed, 09 Dec 2026 10:00:10 GMT", 1796810400), std::chrono::seconds(10));
    for (const char *bad : {"", "-1", "soon", "3 s"})
        EXPECT_EQ(parseRetryAfter(bad, 0), std::nullopt) << bad;
}

TEST(Channel, AListMustBeWhatThePageAnnounced)
{
    TempDir dir;
    writeFile(dir.path() / "list.txt", "(list)\r\n");
    const std::string text = common::utf8FromGbk(gbk("软件下载大小：8-软件下载SHA256："))
        + common::toHex(common::sha256("(list)\r\n")) + "-";
    const ListExpectation expected = listExpectation(text, 1);
    EXPECT_EQ(expected.size, 8);
    EXPECT_TRUE(checkListFile(dir.path() / "list.txt", expected).has_value());
    writeFile(dir.path() / "list.txt", "(lisT)\r\n");
    EXPECT_NE(common::utf8FromGbk(checkListFile(dir.path() / "list.txt", expected).error()).find("文件校验不符"),
        std::string::npos);
    writeFile(dir.path() / "list.txt", "(list)\r\n\r\n");
    EXPECT_NE(
        common::utf8FromGbk(checkListFile(dir.path() / "list.txt", expected).error()).find("大小"), std::string::npos);
    EXPECT_TRUE(checkListFile(dir.path() / "list.txt", ListExpectation{}).has_value());
}

// A key that was configured but cannot be read, or a lost cache, never opens the way to unsigned or older pages.
TEST(Channel, NeitherAnUnreadableKeyNorALostCacheLowersTheBar)
{
    Channel channel;
    TempDir settings;
    channel.acceptedFile = settings.path() / "manifest.accepted";
    channel.serve(page("新"), 200);
    ASSERT_TRUE(channel.read().signatureChecked);
    std::filesystem::remove_all(channel.cache.path());
    channel.serve(page("旧"), 100);
    EXPECT_NE(common::utf8FromGbk(channel.read().refusal).find("重放"), std::string::npos);
    writeFile(channel.acceptedFile, "garbage");
    channel.serve(page("新"), 300);
    EXPECT_TRUE(channel.read().page.empty());

    Channel unreadable;
    unreadable.keysRequired = true;
    unreadable.server.answers[Url] = {answer(200, page("无签名"))};
    const ManifestRead read = unreadable.read(false);
    EXPECT_TRUE(read.page.empty());
    EXPECT_NE(common::utf8FromGbk(read.refusal).find("密钥"), std::string::npos) << common::utf8FromGbk(read.refusal);
}
