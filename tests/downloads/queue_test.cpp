#include "download/fetch.h"
#include "downloads/queuefixture.h"
#include "downloads/store.h"

#include <algorithm>

using downloads::Item;
using downloads::State;

namespace {

std::string shareOf(int n)
{
    return "http://127.0.0.1/share/link?shareid=" + std::to_string(n) + "&uk=1";
}

// The file requests the server logged since the last takeLog() continue the download: each asks for a range
// (a request without one would fetch the file from its start) and none starts inside a recorded stretch.
void expectRecordedBytesNotFetchedAgain(std::vector<std::string> lines, const download::ControlRecord &record)
{
    std::erase_if(lines, [](const std::string &line) { return line.rfind("/status", 0) == 0; });
    ASSERT_FALSE(lines.empty());
    for (const std::string &line : lines) {
        const auto from = loggedOffset(line);
        ASSERT_TRUE(from) << line;
        for (const download::ByteRange &done : record.finished)
            EXPECT_FALSE(*from >= done.begin && *from < done.end) << line << " asks again for a recorded range";
    }
}

std::optional<download::ControlRecord> recordOf(const std::filesystem::path &file)
{
    return download::parseControl(readFile(file.string() + ".part.ctl"));
}

} // namespace

TEST_F(QueueTest, AtMostTheLimitRunAndTheRestWaitInOrder)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    for (const int concurrency : {1, 2}) {
        SCOPED_TRACE(concurrency);
        const std::filesystem::path folder = out / std::to_string(concurrency);
        std::filesystem::create_directories(folder);
        auto queue = makeQueue({concurrency, 0, {}});
        const std::size_t before = ended.items().size();
        std::vector<std::uint64_t> ids;
        for (int n = 1; n <= 4; ++n) {
            shares.set(shareOf(n), "file" + std::to_string(n) + ".bin", server.url("/slow?rate=1048576"));
            ids.push_back(queue->add(shareOf(n), folder));
        }
        int mostRunning = 0;
        ASSERT_TRUE(waitUntil(
            [&] {
                const auto items = queue->items();
                const auto running = std::count_if(
                    items.begin(), items.end(), [](const Item &item) { return item.state == State::Running; });
                mostRunning = std::max(mostRunning, static_cast<int>(running));
                return std::all_of(
                    items.begin(), items.end(), [](const Item &item) { return item.state == State::Finished; });
            },
            QueueDeadline));
        EXPECT_LE(mostRunning, concurrency);
        ASSERT_TRUE(ended.waitFor(before + 4));
        const std::vector<Item> endings = ended.items();
        for (int n = 1; n <= 4; ++n) {
            const std::filesystem::path file = folder / ("file" + std::to_string(n) + ".bin");
            EXPECT_TRUE(readFile(file) == bytes) << file;
        }
        if (concurrency == 1) {
            for (std::size_t i = 0; i < ids.size(); ++i)
                EXPECT_EQ(endings[before + i].id, ids[i]);
        }
    }
}

TEST_F(QueueTest, PausedDownloadContinuesWithoutFetchingRecordedBytesAgain)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    shares.set(shareOf(1), "paused.bin", server.url("/slow?rate=65536"));
    auto queue = makeQueue();
    const std::uint64_t id = queue->add(shareOf(1), out);
    const std::filesystem::path file = out / "paused.bin";
    ASSERT_TRUE(waitUntil([&] { return itemOf(*queue, id)->received >= (1 << 18); }, QueueDeadline));
    queue->pause(id);
    ASSERT_TRUE(waitUntil([&] { return hasState(*queue, id, State::Paused); }, QueueDeadline));
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".part"));
    const auto checkpoint = recordOf(file);
    ASSERT_TRUE(checkpoint);
    ASSERT_GT(finishedBytes(file), 0);
    // The stopped connections' last requests reach the log before this one.
    (void)download::FetchUrl(server.url("/status?code=200"));
    takeLog();

    queue->resume(id);
    ASSERT_TRUE(ended.waitFor(1));
    EXPECT_EQ(ended.items()[0].state, State::Finished);
    EXPECT_TRUE(readFile(file) == bytes);
    expectRecordedBytesNotFetchedAgain(takeLog(), *checkpoint);
}

TEST_F(QueueTest, ContinuedWhilePausingItWaitsForItsTurnAgain)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    shares.set(shareOf(1), "again.bin", server.url("/slow?rate=65536"));
    auto queue = makeQueue();
    const std::uint64_t id = queue->add(shareOf(1), out);
    ASSERT_TRUE(waitUntil([&] { return itemOf(*queue, id)->received > 0; }, QueueDeadline));
    queue->pause(id);
    queue->resume(id);
    ASSERT_TRUE(ended.waitFor(1));
    EXPECT_EQ(ended.items()[0].state, State::Finished);
    EXPECT_TRUE(readFile(out / "again.bin") == bytes);
}

TEST_F(QueueTest, RemoveTakesTheFilesAlongOnlyWhenAsked)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    struct Row
    {
        const char *name;
        bool finish; // removed once finished, or while paused with partial data
        bool deleteFile;
    };
    const Row rows[] = {
        {"kept-finished.bin", true, false},
        {"deleted-finished.bin", true, true},
        {"kept-partial.bin", false, false},
        {"deleted-partial.bin", false, true},
    };
    auto queue = makeQueue();
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ++n;
        shares.set(shareOf(n), row.name, server.url(row.finish ? "/file" : "/slow?rate=32768"));
        const std::uint64_t id = queue->add(shareOf(n), out);
        const std::filesystem::path file = out / row.name;
        if (row.finish) {
            ASSERT_TRUE(waitUntil([&] { return hasState(*queue, id, State::Finished); }, QueueDeadline));
        } else {
            ASSERT_TRUE(waitUntil([&] { return itemOf(*queue, id)->received > 0; }, QueueDeadline));
            queue->pause(id);
            ASSERT_TRUE(waitUntil([&] { return hasState(*queue, id, State::Paused); }, QueueDeadline));
        }
        queue->remove(id, row.deleteFile);
        EXPECT_FALSE(itemOf(*queue, id));
        const auto stored = downloads::readStore(store).items;
        EXPECT_TRUE(std::none_of(stored.begin(), stored.end(), [id](const Item &item) { return item.id == id; }));
        const std::filesystem::path kept = row.finish ? file : std::filesystem::path(file.string() + ".part");
        EXPECT_EQ(std::filesystem::exists(kept), !row.deleteFile);
        EXPECT_EQ(std::filesystem::exists(file.string() + ".part.ctl"), !row.finish && !row.deleteFile);
    }
}

TEST_F(QueueTest, RemovingARunningDownloadStopsItFirst)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    shares.set(shareOf(1), "running.bin", server.url("/slow?rate=32768"));
    auto queue = makeQueue();
    const std::uint64_t id = queue->add(shareOf(1), out);
    const std::filesystem::path file = out / "running.bin";
    ASSERT_TRUE(waitUntil([&] { return itemOf(*queue, id)->received > 0; }, QueueDeadline));
    queue->remove(id, true);
    ASSERT_TRUE(waitUntil([&] { return !itemOf(*queue, id); }, QueueDeadline));
    ASSERT_TRUE(waitUntil([&] { return !std::filesystem::exists(file.string() + ".part"); }, QueueDeadline));
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".part.ctl"));
    EXPECT_TRUE(ended.items().empty()) << "a removed download is no ending to announce";
}

TEST_F(QueueTest, RestartContinuesWhatWasRunningFromItsRecord)
{
    // The file with an ETag, which vouches for the partial data under a new direct link.
    writeFile(dir.path() / "www" / "file.bin.peer", "etag=\"v1\"\nrate=65536\n");
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    struct Row
    {
        const char *name;
        bool shareStillResolves; // else the stored direct link serves
    };
    for (const Row &row : {Row{"fresh-link.bin", true}, Row{"stored-link.bin", false}}) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(store);
        const std::filesystem::path file = out / row.name;
        shares.set(shareOf(1), row.name, server.url("/peer?tok=first"));
        {
            auto queue = makeQueue();
            const std::uint64_t id = queue->add(shareOf(1), out);
            ASSERT_TRUE(waitUntil([&] { return finishedBytes(file) >= (1 << 18); }, QueueDeadline));
            (void)id;
        } // the program ends: the store keeps it as running
        const auto checkpoint = recordOf(file);
        ASSERT_TRUE(checkpoint);
        const auto stored = downloads::readStore(store).items;
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_EQ(stored[0].state, State::Running);
        (void)download::FetchUrl(server.url("/status?code=200"));
        takeLog();

        if (row.shareStillResolves)
            shares.set(shareOf(1), row.name, server.url("/peer?tok=second"));
        else
            shares.forget(shareOf(1));
        const int callsBefore = shares.calls();
        auto queue = makeQueue();
        queue->restore();
        ASSERT_TRUE(waitUntil([&] { return hasState(*queue, stored[0].id, State::Finished); }, QueueDeadline));
        EXPECT_TRUE(readFile(file) == bytes);
        EXPECT_GT(shares.calls(), callsBefore) << "the share page is read again";
        expectRecordedBytesNotFetchedAgain(takeLog(), *checkpoint);
        const auto item = itemOf(*queue, stored[0].id);
        EXPECT_EQ(item->received, static_cast<std::int64_t>(bytes.size()));
    }
}

TEST_F(QueueTest, FailedShareIsRetriedOnRequest)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    auto queue = makeQueue();
    const std::uint64_t id = queue->add(shareOf(7), out);
    ASSERT_TRUE(ended.waitFor(1));
    const Item failed = ended.items()[0];
    EXPECT_EQ(failed.state, State::Failed);
    EXPECT_FALSE(failed.reason.empty());

    shares.set(shareOf(7), "retried.bin", server.url("/file"));
    queue->retry(id);
    ASSERT_TRUE(ended.waitFor(2));
    EXPECT_EQ(ended.items()[1].state, State::Finished);
    EXPECT_TRUE(ended.items()[1].reason.empty());
    EXPECT_TRUE(readFile(out / "retried.bin") == bytes);
}

TEST_F(QueueTest, ChecksumTravelsWithTheDownload)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    shares.set(shareOf(1), "checked.bin", server.url("/file"));
    shares.set(shareOf(2), "wrong.bin", server.url("/file"));
    auto queue = makeQueue({1, 0, {}});
    queue->add(shareOf(1), out, common::sha256(bytes));
    queue->add(shareOf(2), out, common::sha256("other bytes"));
    ASSERT_TRUE(ended.waitFor(2));
    EXPECT_EQ(ended.items()[0].state, State::Finished);
    EXPECT_EQ(ended.items()[1].state, State::Failed);
    EXPECT_FALSE(std::filesystem::exists(out / "wrong.bin"));
    EXPECT_EQ(downloads::readStore(store).items[0].sha256, common::sha256(bytes));
}

TEST_F(QueueTest, TwoSharesOfOneNameGetTwoFiles)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    writeFile(out / "same.bin", "already here");
    auto queue = makeQueue({2, 0, {}});
    for (int n = 1; n <= 2; ++n) {
        shares.set(shareOf(n), "same.bin", server.url("/file"));
        queue->add(shareOf(n), out);
    }
    ASSERT_TRUE(ended.waitFor(2));
    EXPECT_EQ(readFile(out / "same.bin"), "already here");
    EXPECT_TRUE(readFile(out / "same(1).bin") == bytes);
    EXPECT_TRUE(readFile(out / "same(2).bin") == bytes);
}
