#include "download/download.h"
#include "download/fetch.h"
#include "downloads/options.h"
#include "downloads/queuefixture.h"

#include <cstdlib>

using Mode = download::ProxySetting::Mode;
using downloads::State;

namespace {

// Sets an environment variable for the life of the object (nothing else runs meanwhile).
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const std::string &value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

class ProxyTest : public QueueTest
{
protected:
    // The client addresses of the requests nginx logged since the last call.
    std::vector<std::string> takeClients()
    {
        std::vector<std::string> clients;
        std::istringstream in(readFile(accessLog));
        for (std::string line; std::getline(in, line);)
            clients.push_back(line.substr(0, line.find(' ')));
        std::ofstream(accessLog, std::ios::trunc); // nginx appends to the file it opened
        return clients;
    }

    std::filesystem::path accessLog = dir.path() / "access.log";
    std::filesystem::path proxyLog = dir.path() / "socks.log";
    NginxServer nginx{dir.path() / "nginx", dir.path() / "www", "access_log " + accessLog.string() + ";"};
    SocksProxy socks{proxyLog};
};

} // namespace

TEST_F(ProxyTest, PageFetchesGoWhereTheSettingSays)
{
    const struct
    {
        const char *name;
        download::ProxySetting proxy;
        const char *environment; // all_proxy
        const char *host; // of the page's address
        const char *client; // as the server sees it
    } rows[] = {
        {"system, from the environment", {Mode::System, ""}, "socks5", "127.0.0.1", "127.0.0.2"},
        {"none, despite the environment", {Mode::None, ""}, "socks5", "127.0.0.1", "127.0.0.1"},
        {"manual socks5", {Mode::Manual, socks.url("socks5")}, nullptr, "127.0.0.1", "127.0.0.2"},
        {"manual socks5h, the proxy resolves", {Mode::Manual, socks.url("socks5h")}, nullptr, "localhost", "127.0.0.2"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<ScopedEnv> proxyEnv;
        if (row.environment)
            proxyEnv.emplace("all_proxy", socks.url(row.environment));
        // A manual proxy serves every host, whatever no_proxy exempts.
        const ScopedEnv noProxy("no_proxy", row.environment ? "" : "*");
        std::string url = nginx.url("/file.bin");
        url.replace(url.find("127.0.0.1"), 9, row.host);
        download::FetchOptions options;
        options.proxy = row.proxy;
        const auto page = download::fetchPage(url, options);
        ASSERT_TRUE(page.has_value()) << page.error().detail;
        EXPECT_TRUE(page.value().body == bytes);
        EXPECT_EQ(takeClients(), std::vector<std::string>{row.client});
    }
}

// The program's page fetcher asks the options at each fetch: a change in the list's options serves the next one.
TEST_F(ProxyTest, ProgramPageFetchesFollowTheOptionsAtEachFetch)
{
    const ScopedEnv noProxy("no_proxy", "*");
    settings::Settings settings{dir.path()};
    const download::Fetcher fetch = downloads::proxiedFetcher(downloads::settingsProxy(settings));
    const std::string refused = "socks5h://127.0.0.1:" + std::to_string(freeLoopbackPort());
    const struct
    {
        const char *name;
        download::ProxySetting proxy;
        bool arrives;
        std::vector<std::string> clients; // as the server sees them
    } rows[] = {
        {"manual socks5h, the proxy resolves", {Mode::Manual, socks.url("socks5h")}, true, {"127.0.0.2"}},
        {"none", {Mode::None, ""}, true, {"127.0.0.1"}},
        {"manual, the proxy refuses the connection", {Mode::Manual, refused}, false, {}},
    };
    std::string url = nginx.url("/file.bin");
    url.replace(url.find("127.0.0.1"), 9, "localhost");
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(downloads::writeQueueOptions(settings, {3, 0, row.proxy}));
        EXPECT_EQ(fetch(url) == bytes, row.arrives);
        EXPECT_EQ(takeClients(), row.clients);
    }
}

TEST_F(ProxyTest, QueuedDownloadGoesThroughAManualSocksProxy)
{
    shares.set("share", "proxied.bin", nginx.url("/file.bin"));
    auto queue = makeQueue({3, 0, {Mode::Manual, socks.url("socks5")}});
    queue->add("share", out);
    ASSERT_TRUE(ended.waitFor(1));
    EXPECT_EQ(ended.items()[0].state, State::Finished) << ended.items()[0].reason;
    EXPECT_TRUE(readFile(out / "proxied.bin") == bytes);
    const std::vector<std::string> clients = takeClients();
    ASSERT_FALSE(clients.empty());
    for (const std::string &client : clients)
        EXPECT_EQ(client, "127.0.0.2");
    EXPECT_NE(readFile(proxyLog).find("connected to 127.0.0.1"), std::string::npos);
}

TEST_F(ProxyTest, ManualProxyOfAnotherSchemeIsRefusedWithItsReason)
{
    const download::ProxySetting bad{Mode::Manual, "ftp://127.0.0.1:21"};
    download::FetchOptions options;
    options.proxy = bad;
    const auto page = download::fetchPage(nginx.url("/file.bin"), options);
    ASSERT_FALSE(page.has_value());
    EXPECT_EQ(page.error().kind, download::DownloadError::Kind::Address);
    EXPECT_FALSE(page.error().detail.empty());

    shares.set("share", "refused.bin", nginx.url("/file.bin"));
    auto queue = makeQueue({3, 0, bad});
    queue->add("share", out);
    ASSERT_TRUE(ended.waitFor(1));
    EXPECT_EQ(ended.items()[0].state, State::Failed);
    EXPECT_NE(ended.items()[0].reason.find("socks5"), std::string::npos) << ended.items()[0].reason;
    EXPECT_TRUE(takeClients().empty());
}

TEST_F(ProxyTest, SharedSpeedLimitHoldsTheRunningDownloadsAndFollowsChanges)
{
    writeFile(dir.path() / "www" / "big.bin", bytes + bytes + bytes);
    const std::string big = bytes + bytes + bytes;
    auto queue = makeQueue({2, 1, {}});
    for (const char *name : {"one.bin", "two.bin"}) {
        shares.set(name, name, nginx.url("/big.bin"));
        queue->add(name, out);
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto items = queue->items();
            return std::all_of(items.begin(), items.end(),
                [](const downloads::Item &item) { return item.state == State::Running && item.size > 0; });
        },
        std::chrono::seconds(20)));
    // An unlimited download of the same file ends while the limited ones have hardly begun.
    TempDir other;
    download::Download control;
    std::atomic<bool> controlEnded{false};
    download::TaskParam param = download::toolTaskParam(nginx.url("/big.bin"), other.path() / "control.bin",
        [&controlEnded](int code, download::Download *, double, int, download::Download *) {
            if (code == download::EventEnded)
                controlEnded = true;
            return 0;
        });
    ASSERT_TRUE(control.Start(param));
    ASSERT_TRUE(waitUntil([&] { return controlEnded.load(); }, QueueDeadline));
    ASSERT_TRUE(control.lastSucceeded());
    for (const downloads::Item &item : queue->items()) {
        EXPECT_EQ(item.state, State::Running);
        EXPECT_LT(item.received, static_cast<std::int64_t>(big.size() / 4)) << item.name;
    }
    // Lifted while they run, the limit lets them finish.
    queue->setOptions({2, 0, {}});
    ASSERT_TRUE(ended.waitFor(2));
    EXPECT_TRUE(readFile(out / "one.bin") == big);
    EXPECT_TRUE(readFile(out / "two.bin") == big);
}
