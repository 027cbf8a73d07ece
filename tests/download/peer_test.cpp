#include "common/gbk.h"
#include "download/controlfile.h"
#include "download/download.h"
#include "download/rangecheck.h"
#include "download/taskfixture.h"

#include <gtest/gtest.h>

using namespace download;

namespace {

// A download that meets a server which changes between two runs: a partial first run, the server changes
// (tests/support/scripted_server.py's /peer, told through FILE.peer), then the same download again.
class ChangingPeerTest : public TaskTest
{
protected:
    void setPeer(const std::string &settings) { writeFile(dir.path() / "www" / "file.bin.peer", settings); }

    static std::int64_t recordedBytes(const std::filesystem::path &control)
    {
        std::int64_t bytes = 0;
        if (const auto record = parseControl(readFile(control)))
            for (const ByteRange &range : record->finished)
                bytes += range.size();
        return bytes;
    }

    // Starts `p`, stops it once at least 256 KiB are recorded, and gives the record then.
    ControlRecord stopHalfway(Download &task, const TaskParam &p)
    {
        const std::filesystem::path control = p.localFile.string() + ".part.ctl";
        EXPECT_TRUE(task.Start(p));
        EXPECT_TRUE(waitUntil([&control] { return recordedBytes(control) >= (256 << 10); }));
        task.Stop();
        EXPECT_FALSE(task.lastSucceeded());
        const auto record = parseControl(readFile(control));
        EXPECT_TRUE(record);
        EXPECT_LT(recordedBytes(control), static_cast<std::int64_t>(data.size()));
        return record.value_or(ControlRecord{});
    }

    std::string versionB() const
    {
        std::string b = data;
        for (char &c : b)
            c = static_cast<char>(c ^ 0x5A);
        return b;
    }
};

// Whether the logged request starts inside the recorded stretch `done`, asking for its bytes again.
bool asksAgainFor(const std::string &line, const download::ByteRange &done)
{
    const auto from = loggedOffset(line);
    return from && *from >= done.begin && *from < done.end;
}

} // namespace

TEST_F(ChangingPeerTest, AWholeFileInAnswerToARangeIsNeverSpliced)
{
    const std::string b = versionB();
    const struct
    {
        const char *name;
        const char *before;
        const char *after;
        std::string result;
    } cases[] = {
        {"Range now ignored, the file changed, no validators", "", "version=b\nranges=0\n", b},
        {"the new version drops its ETag", "etag=\"a1\"\n", "version=b\n", b},
        {"no ETag any more and If-Range ignored", "etag=\"a1\"\n", "version=b\nifrange=0\n", b},
        {"a bigger file without a length", "", "version=bigger\nranges=0\nlength=0\n", data + std::string(1000, 'x')},
    };
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        setPeer(std::string(row.before) + "rate=262144\n");
        Download task;
        stopHalfway(task, param(server.url("/peer"), "peer.bin", 4));
        setPeer(row.after);
        ASSERT_TRUE(runToEnd(task, quickParam(server.url("/peer"), "peer.bin", 4)));
        ASSERT_TRUE(task.lastSucceeded()) << describeDownloadError(task.lastError().value_or(DownloadError{}));
        EXPECT_TRUE(readFile(target / "peer.bin") == row.result);
        std::filesystem::remove(target / "peer.bin");
        EXPECT_TRUE(filesInTarget().empty());
        takeLog();
    }
}

TEST_F(ChangingPeerTest, ARefusalKeepsThePartialDownloadForTheNextStart)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    for (const int status : {403, 404, 410}) {
        SCOPED_TRACE(status);
        setPeer("rate=262144\n");
        Download task;
        const ControlRecord before = stopHalfway(task, param(server.url("/peer"), "kept.bin", 4));
        setPeer("status=" + std::to_string(status) + "\n");
        ASSERT_TRUE(runToEnd(task, quickParam(server.url("/peer"), "kept.bin", 4)));
        ASSERT_TRUE(task.lastError());
        EXPECT_EQ(task.lastError()->httpStatus, status);
        EXPECT_NE(describeDownloadError(*task.lastError()).find(common::gbk("已保留")), std::string::npos);
        EXPECT_EQ((std::vector<std::string>{"kept.bin.part", "kept.bin.part.ctl"}), filesInTarget());

        // The link works again: only what was missing is fetched.
        setPeer("");
        takeLog();
        ASSERT_TRUE(runToEnd(task, quickParam(server.url("/peer"), "kept.bin", 4)));
        ASSERT_TRUE(task.lastSucceeded());
        EXPECT_TRUE(readFile(target / "kept.bin") == data);
        for (const std::string &line : takeLog())
            for (const ByteRange &done : before.finished)
                EXPECT_FALSE(asksAgainFor(line, done)) << line;
        std::filesystem::remove(target / "kept.bin");
    }
}

TEST_F(ChangingPeerTest, ARecordIsCheckedBeforeItIsBelieved)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const std::string url = server.url("/file");
    const auto total = static_cast<std::int64_t>(data.size());
    const std::int64_t half = total / 2;
    const std::string zeros(data.size(), '\0');
    const struct
    {
        const char *name;
        std::string part;
        ControlRecord record;
    } cases[] = {
        {"every range claimed, zeros on disk", zeros, {url, {total, "", "", ""}, {{0, total}}, {""}}},
        {"every range claimed with its check, zeros on disk", zeros,
            {url, {total, "", "", ""}, {{0, half}, {half, total}},
                {rangeCheck(data.substr(0, half)), rangeCheck(data.substr(half))}}},
        {"a total of 0", "", {url, {0, "", "", ""}, {}, {}}},
        {"the right bytes, every range checked", data,
            {url, {total, "", "", ""}, {{0, half}, {half, total}},
                {rangeCheck(data.substr(0, half)), rangeCheck(data.substr(half))}}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        writeFile(target / "edited.bin.part", row.part);
        writeFile(target / "edited.bin.part.ctl", formatControl(row.record));
        Download task;
        ASSERT_TRUE(runToEnd(task, quickParam(url, "edited.bin", 4)));
        ASSERT_TRUE(task.lastSucceeded());
        EXPECT_TRUE(readFile(target / "edited.bin") == data);
        EXPECT_FALSE(takeLog().empty()) << "published without asking the server";
        std::filesystem::remove(target / "edited.bin");
    }
}

TEST_F(ChangingPeerTest, ABusyServerIsAskedAgainOnlyAfterTheWaitItNamed)
{
    // The task is stopped once it has put the refused part off: the wait it chose is what counts, and nobody
    // lives through it. Its own delay between attempts is 20 ms.
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    for (const char *status : {"503", "429"}) {
        SCOPED_TRACE(status);
        setPeer(std::string("status=") + status + "\nretryafter=120\n");
        std::atomic<std::int64_t> firstWaitMs{-1};
        TaskParam p = quickParam(server.url("/peer"), "busy.bin", 4);
        p.retryScheduled = [&firstWaitMs](std::chrono::milliseconds wait) {
            std::int64_t none = -1;
            firstWaitMs.compare_exchange_strong(none, wait.count());
        };
        Download task;
        ASSERT_TRUE(task.Start(p));
        ASSERT_TRUE(waitUntil([&firstWaitMs] { return firstWaitMs.load() >= 0; }));
        task.Stop();
        EXPECT_GE(firstWaitMs.load(), 120'000);
        EXPECT_EQ(takeLog().size(), 1u) << "asked again before the wait was over";

        // Once the server answers again, the next start gets the file.
        setPeer("");
        ASSERT_TRUE(runToEnd(task, quickParam(server.url("/peer"), "busy.bin", 4)));
        ASSERT_TRUE(task.lastSucceeded());
        EXPECT_TRUE(readFile(target / "busy.bin") == data);
        std::filesystem::remove(target / "busy.bin");
        takeLog();
    }
}

TEST_F(ChangingPeerTest, AFreshAddressForTheSameFileContinuesOnlyWhatAStrongETagVouchesFor)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const struct
    {
        const char *name;
        const char *validators;
        bool continues;
    } cases[] = {
        {"a strong ETag", "etag=\"s1\"\n", true},
        {"a weak ETag", "etag=W/\"w1\"\n", false},
        {"no validators", "", false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        setPeer(std::string(row.validators) + "rate=262144\n");
        Download task;
        const ControlRecord before = stopHalfway(task, param(server.url("/peer?tok=1"), "moved.bin", 4));
        setPeer(row.validators);
        takeLog();
        ASSERT_TRUE(runToEnd(task, quickParam(server.url("/peer?tok=2"), "moved.bin", 4)));
        ASSERT_TRUE(task.lastSucceeded());
        EXPECT_EQ(task.lastPath(), target / "moved.bin");
        EXPECT_TRUE(readFile(target / "moved.bin") == data);
        EXPECT_EQ(filesInTarget(), std::vector<std::string>{"moved.bin"});
        bool fetchedAgain = false;
        for (const std::string &line : takeLog())
            for (const ByteRange &done : before.finished)
                fetchedAgain = fetchedAgain || asksAgainFor(line, done);
        EXPECT_EQ(fetchedAgain, !row.continues);
        std::filesystem::remove(target / "moved.bin");
    }
}

TEST_F(ChangingPeerTest, ETagsThatDifferFromAnswerToAnswerDoNotFailTheDownload)
{
    // A balanced server whose machines each make their own ETag for one file: "e1", "e2", ... per answer.
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    for (const char *dates : {"modified=Tue, 01 Aug 2023 10:00:00 GMT\n", ""}) {
        SCOPED_TRACE(dates);
        setPeer(std::string("etag=flap\n") + dates);
        Download task;
        ASSERT_TRUE(runToEnd(task, quickParam(server.url("/peer"), "flap.bin", 10)));
        ASSERT_TRUE(task.lastSucceeded()) << describeDownloadError(task.lastError().value_or(DownloadError{}));
        EXPECT_TRUE(readFile(target / "flap.bin") == data);
        std::filesystem::remove(target / "flap.bin");
        takeLog();
    }
}

TEST_F(ChangingPeerTest, AnExpiredDirectLinkIsResolvedAgainAndKeepsTheBytesInHand)
{
    // Each link (tok=N) is refused with 403 once some bytes were sent for it; a fresh link is resolved each time.
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const struct
    {
        const char *name;
        const char *settings;
        bool continues;
    } cases[] = {
        {"a strong ETag: the bytes in hand are continued", "etag=\"s1\"\nexpireafter=614400\n", true},
        // Nothing vouches for bytes from another link: each fresh link starts the file over, and links that
        // expire before the whole file has come never give a file.
        {"no validators: the file starts over", "expireafter=2097152\n", false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        setPeer(row.settings);
        std::atomic<int> token{0};
        TaskParam p = quickParam(server.url("/peer?tok=0"), "expiring.bin", 4);
        p.freshAddress = [&token, &server] { return server.url("/peer?tok=" + std::to_string(++token)); };
        Download task;
        ASSERT_TRUE(runToEnd(task, p));
        EXPECT_GE(token.load(), 1);
        ASSERT_EQ(task.lastSucceeded(), row.continues);
        if (!row.continues) {
            EXPECT_FALSE(std::filesystem::exists(target / "expiring.bin"));
            takeLog();
            continue;
        }
        EXPECT_TRUE(readFile(target / "expiring.bin") == data);
        EXPECT_EQ(filesInTarget(), std::vector<std::string>{"expiring.bin"});
        // Continued, the file's first bytes are fetched once; started over, once more.
        const std::vector<std::string> requests = takeLog();
        const auto fromStart = std::count_if(
            requests.begin(), requests.end(), [](const std::string &line) { return loggedOffset(line) == 0; });
        EXPECT_EQ(fromStart == 1, row.continues) << fromStart;
        std::filesystem::remove(target / "expiring.bin");
    }
}
