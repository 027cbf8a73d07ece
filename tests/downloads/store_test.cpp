#include "common/gbk.h"
#include "downloads/options.h"
#include "downloads/queuefixture.h"
#include "downloads/store.h"

using downloads::Item;
using downloads::State;

namespace {

Item sample(std::uint64_t id, State state, const std::filesystem::path &folder)
{
    Item item;
    item.id = id;
    item.state = state;
    item.shareAddress = "http://127.0.0.1/share/link?shareid=" + std::to_string(id) + "&uk=1";
    item.folder = folder;
    item.file = folder / ("file" + std::to_string(id) + ".zip");
    item.name = common::gbk("软件") + "\t\\\n" + std::to_string(id);
    item.size = 1000;
    item.received = 250;
    item.directLink = "http://127.0.0.1/file/1?tok=a";
    return item;
}

} // namespace

TEST(DownloadStore, KeepsEveryFieldThroughAWriteAndARead)
{
    std::vector<Item> items;
    for (const State state : {State::Waiting, State::Running, State::Paused, State::Finished, State::Failed})
        items.push_back(sample(items.size() + 1, state, "/tmp/下载 folder"));
    items[1].sha256 = common::sha256("x");
    items[4].reason = common::gbk("服务器回答 HTTP 404：文件不存在\r\n");
    // A GBK character whose second byte is a backslash, at the end of a field.
    items[2].name = common::gbk("\xe6\x95\xb0") + "\x5c";
    const auto read = downloads::parseStore(downloads::formatStore(items));
    EXPECT_TRUE(read.problem.empty());
    EXPECT_EQ(read.items, items);
}

TEST(DownloadStore, DamagedLinesAreSkippedAndTheRestKept)
{
    const std::string good
        = downloads::formatStore({sample(1, State::Paused, "/tmp"), sample(2, State::Failed, "/tmp")});
    const std::string header = good.substr(0, good.find('\n') + 1);
    const std::string first = good.substr(header.size(), good.find('\n', header.size()) + 1 - header.size());
    const std::string second = good.substr(header.size() + first.size());
    const struct
    {
        const char *name;
        std::string text;
        std::size_t kept;
    } rows[] = {
        {"no header", first + second, 2},
        {"a line of noise", header + first + "noise\n" + second, 2},
        {"too few fields", header + "3\tpaused\tx\n" + first, 1},
        {"an unknown state", header + "3\tgone\ts\t/f\t/f/a\tn\t1\t1\t\t\t\n" + first, 1},
        {"a negative size", header + "3\tpaused\ts\t/f\t/f/a\tn\t-1\t1\t\t\t\n" + first, 1},
        {"a bad checksum", header + "3\tpaused\ts\t/f\t/f/a\tn\t1\t1\txyz\t\t\n" + first, 1},
        {"a bad escape", header + "3\tpaused\ts\\q\t/f\t/f/a\tn\t1\t1\t\t\t\n" + first, 1},
        {"an id twice", header + first + first + second, 2},
        {"cut off midway", header + first + second.substr(0, 20), 1},
        {"binary bytes", std::string("\0\xff\xfe\t\t\n", 6) + first, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const auto read = downloads::parseStore(row.text);
        EXPECT_EQ(read.items.size(), row.kept);
        EXPECT_FALSE(read.problem.empty());
    }
}

TEST(DownloadStore, FinishedFileThatIsGoneShowsAsFailed)
{
    TempDir dir;
    writeFile(dir.path() / "file1.zip", "here");
    std::vector<Item> items{sample(1, State::Finished, dir.path()), sample(2, State::Finished, dir.path())};
    downloads::markGoneFiles(items);
    EXPECT_EQ(items[0].state, State::Finished);
    EXPECT_EQ(items[1].state, State::Failed);
    EXPECT_FALSE(items[1].reason.empty());
}

TEST(DownloadStore, DamagedStoreGivesAClearListAndLosesNothingElse)
{
    TempDir dir;
    const std::filesystem::path store = dir.path() / "下载列表";
    const std::string text = "garbage\n" + downloads::formatStore({sample(4, State::Paused, dir.path())});
    writeFile(store, text);
    writeFile(dir.path() / "file4.zip.part", "partial");
    downloads::Queue queue(store, {}, {});
    queue.restore();
    const auto items = queue.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].id, 4u);
    EXPECT_EQ(items[0].state, State::Paused);
    EXPECT_FALSE(queue.storeProblem().empty());
    EXPECT_EQ(readFile(store.string() + ".damaged"), text);
    EXPECT_EQ(readFile(dir.path() / "file4.zip.part"), "partial");
    EXPECT_EQ(downloads::readStore(store).items, items);
    EXPECT_EQ(queue.add("http://127.0.0.1/share/link?shareid=9&uk=1", dir.path()), 5u);
}

TEST(DownloadOptions, SettingsKeepTheQueueOptions)
{
    TempDir dir;
    const settings::Settings settings(dir.path());
    EXPECT_EQ(downloads::readQueueOptions(settings), downloads::QueueOptions{});
    const downloads::QueueOptions manual{5, 2048, {download::ProxySetting::Mode::Manual, "socks5h://127.0.0.1:1080"}};
    ASSERT_TRUE(downloads::writeQueueOptions(settings, manual));
    EXPECT_EQ(downloads::readQueueOptions(settings), manual);
    // Values a person may write by hand: a bad one gives its default.
    for (const auto &[key, value] : {std::pair{settings::keys::DownloadConcurrency, "0"},
             std::pair{settings::keys::DownloadConcurrency, "many"}, std::pair{settings::keys::ProxyMode, "auto"}})
        ASSERT_TRUE(settings.write(key, value));
    ASSERT_TRUE(settings.write(settings::keys::DownloadSpeedLimit, "512K"));
    const downloads::QueueOptions read = downloads::readQueueOptions(settings);
    EXPECT_EQ(read.concurrency, 3);
    EXPECT_EQ(read.maxBytesPerSecond, 512 * 1024);
    EXPECT_EQ(read.proxy.mode, download::ProxySetting::Mode::System);
}

TEST(ProxySetting, ManualAddressesOfOtherSchemesAreRefused)
{
    using Mode = download::ProxySetting::Mode;
    const struct
    {
        download::ProxySetting proxy;
        bool usable;
    } rows[] = {
        {{Mode::System, "ftp://ignored"}, true},
        {{Mode::None, ""}, true},
        {{Mode::Manual, "http://127.0.0.1:3128"}, true},
        {{Mode::Manual, "HTTPS://proxy.example:443"}, true},
        {{Mode::Manual, "socks5://127.0.0.1:1080"}, true},
        {{Mode::Manual, "socks5h://user:pw@127.0.0.1:1080"}, true},
        {{Mode::Manual, ""}, false},
        {{Mode::Manual, "127.0.0.1:1080"}, false},
        {{Mode::Manual, "socks4://127.0.0.1:1080"}, false},
        {{Mode::Manual, "ftp://127.0.0.1"}, false},
        {{Mode::Manual, "http://"}, false},
        {{Mode::Manual, "http://a b"}, false},
        {{Mode::Manual, "http://a\nb"}, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.proxy.url);
        EXPECT_EQ(!download::proxyProblem(row.proxy), row.usable);
    }
}
