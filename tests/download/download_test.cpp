#include "download/controlfile.h"
#include "download/download.h"
#include "download/taskfixture.h"
#include "support/mutelistener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace download;

namespace {

using DownloadTest = TaskTest;

// The limits a test sets when a wait for them would be a fault.
constexpr int HourMs = 3600 * 1000;

// A loopback listener whose queue is full: a new connection to it stays half-open until its time-out.
class FullListener
{
public:
    FullListener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(m_listener.port()));
        ::connect(m_filler, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    }
    ~FullListener() { ::close(m_filler); }
    FullListener(const FullListener &) = delete;
    FullListener &operator=(const FullListener &) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_listener.port()) + "/file.bin"; }

private:
    const MuteListener m_listener{0};
    int m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
};

} // namespace

TEST_F(DownloadTest, ByteIdenticalOverOneAndTenConnections)
{
    NginxServer nginx(dir.path() / "nginx", dir.path() / "www");
    for (const int connections : {1, 10}) {
        SCOPED_TRACE(connections);
        Download task;
        const std::string name = "c" + std::to_string(connections) + ".bin";
        ASSERT_TRUE(runToEnd(task, param(nginx.url("/file.bin"), name, connections)));
        EXPECT_TRUE(task.lastSucceeded());
        EXPECT_TRUE(readFile(target / name) == data);
        EXPECT_EQ(events.total.load(), static_cast<double>(data.size()));
        EXPECT_EQ(events.receivedAtEnd.load(), static_cast<double>(data.size()));
        EXPECT_EQ(task.Received(), 0);
    }
    EXPECT_EQ(filesInTarget(), (std::vector<std::string>{"c1.bin", "c10.bin"}));
}

TEST_F(DownloadTest, ExistingFileIsNeverOverwritten)
{
    NginxServer nginx(dir.path() / "nginx", dir.path() / "www");
    writeFile(target / "file.bin", "precious");
    Download task;
    ASSERT_TRUE(runToEnd(task, param(nginx.url("/file.bin"), "file.bin", 4)));
    EXPECT_EQ(events.nameTaken.load(), 1);
    EXPECT_EQ(readFile(target / "file.bin"), "precious");
    EXPECT_TRUE(readFile(target / "file(1).bin") == data);
    EXPECT_EQ(task.lastPath(), target / "file(1).bin");
}

TEST_F(DownloadTest, HealsResetsIgnoredRangesAndBusyServers)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    for (const char *path : {"/reset", "/norange", "/flaky", "/nolength", "/redirect"}) {
        SCOPED_TRACE(path);
        Download task;
        const std::string name = std::string(path + 1) + ".bin";
        ASSERT_TRUE(runToEnd(task, param(server.url(path), name, 10)));
        EXPECT_TRUE(task.lastSucceeded());
        EXPECT_TRUE(readFile(target / name) == data);
    }
}

TEST_F(DownloadTest, FailuresLeaveNoFileAndSaySo)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    for (const char *path : {"/404", "/loop", "/liar"}) {
        SCOPED_TRACE(path);
        Download task;
        ASSERT_TRUE(runToEnd(task, quickParam(server.url(path), "bad.bin", 3)));
        EXPECT_FALSE(task.lastSucceeded());
        EXPECT_TRUE(task.lastError());
        EXPECT_TRUE(filesInTarget().empty());
    }
    Download refused;
    ASSERT_TRUE(runToEnd(refused, param("http://127.0.0.1:1/x", "none.bin", 1)));
    EXPECT_FALSE(refused.lastSucceeded());
    ASSERT_TRUE(refused.lastError());
    EXPECT_EQ(refused.lastError()->kind, DownloadError::Kind::Network);
}

TEST_F(DownloadTest, StopJoinsTheTaskAndTheNextStartResumesWhereItStopped)
{
    NginxServer nginx(dir.path() / "nginx", dir.path() / "www", "limit_rate 500k;");
    Download task;
    TaskParam p = param(nginx.url("/file.bin"), "slow.bin", 2);
    p.retryDelayMs = HourMs;
    ASSERT_TRUE(task.Start(p));
    EXPECT_FALSE(task.Start(p));
    ASSERT_TRUE(waitUntil([&task] { return task.Received() >= 600 * 1024; }));
    {
        const HangGuard guard("Stop");
        task.Stop();
    }
    EXPECT_FALSE(task.running());
    EXPECT_EQ(events.ended.load(), 1); // raised before Stop returned
    ASSERT_TRUE(task.lastError());
    EXPECT_EQ(task.lastError()->kind, DownloadError::Kind::Stopped);
    EXPECT_EQ(filesInTarget(), (std::vector<std::string>{"slow.bin.part", "slow.bin.part.ctl"}));
    // Everything that arrived is recorded.
    const auto recordedBytes = [this] {
        const auto record = parseControl(readFile(target / "slow.bin.part.ctl"));
        std::int64_t bytes = 0;
        for (const ByteRange &range : record ? record->finished : std::vector<ByteRange>{})
            bytes += range.size();
        return bytes;
    };
    const std::int64_t recorded = recordedBytes();
    EXPECT_EQ(static_cast<double>(recorded), events.receivedAtEnd.load());
    EXPECT_GE(recorded, 600 * 1024);

    // Stopped again before any answer came: what the record holds stays.
    ASSERT_TRUE(task.Start(p));
    task.Stop();
    EXPECT_EQ(events.ended.load(), 2);
    EXPECT_GE(recordedBytes(), recorded);

    ASSERT_TRUE(task.Start(p));
    ASSERT_TRUE(events.waitForEnd(3));
    EXPECT_TRUE(task.lastSucceeded());
    EXPECT_TRUE(readFile(target / "slow.bin") == data);
    EXPECT_EQ(filesInTarget(), std::vector<std::string>{"slow.bin"});
}

TEST_F(DownloadTest, StopEndsTheTaskAtEveryMomentFromEveryThread)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const FullListener full;
    const auto requested = [this] { return !readFile(log).empty(); };
    const auto claimed = [this] { return !filesInTarget().empty(); };
    const auto receiving = [](const Download &task) { return task.Received() > 0; };
    enum class From
    {
        Caller,
        EventRoutine,
        Destructor
    };
    const struct
    {
        const char *name;
        std::string url;
        From from;
        std::function<bool(const Download &)> moment; // Stop comes once this holds
    } cases[] = {
        {"while connecting", full.url(), From::Caller, [&](const Download &) { return claimed(); }},
        {"while waiting for the answer", server.url("/silent"), From::Caller,
            [&](const Download &) { return requested(); }},
        {"between attempts", server.url("/status?code=503"), From::Caller,
            [&](const Download &) { return requested(); }},
        {"while receiving", server.url("/slow?rate=65536"), From::Caller, receiving},
        {"on the total's event", server.url("/slow?rate=65536"), From::EventRoutine, {}},
        {"by destroying the object", server.url("/slow?rate=65536"), From::Destructor, receiving},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        Events seen;
        TaskParam p = param(row.url, "stop.bin", 4);
        p.connectTimeoutMs = p.receiveTimeoutMs = p.retryDelayMs = HourMs;
        p.eventRoutine = [&seen, &row](int code, Download *task, double value, int, Download *) {
            if (row.from == From::EventRoutine && code == EventTotalSize)
                task->Stop();
            return seen.routine(code, value);
        };
        auto task = std::make_unique<Download>();
        ASSERT_TRUE(task->Start(p));
        ASSERT_TRUE(waitUntil([&] { return !row.moment || row.moment(*task) || seen.ended.load() > 0; }));
        ASSERT_EQ(seen.ended.load(), 0);
        // Never the hour that the time-outs, the retry delay or the server's silence would take.
        const HangGuard guard(row.name);
        if (row.from == From::Caller)
            task->Stop();
        if (row.from == From::EventRoutine) {
            ASSERT_TRUE(seen.waitForEnd());
        }
        // A task ended by destruction has no object left to ask.
        const std::optional<DownloadError> error = row.from == From::Destructor ? std::nullopt : task->lastError();
        task.reset();
        EXPECT_EQ(seen.ended.load(), 1);
        if (row.from != From::Destructor) {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind, DownloadError::Kind::Stopped);
        }
        for (const std::string &name : filesInTarget())
            std::filesystem::remove(target / name);
        takeLog();
    }
}

TEST_F(DownloadTest, StalledServerIsLeftAfterTheReceiveTimeout)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    Download task;
    TaskParam p = param(server.url("/stall"), "stall.bin", 1);
    p.receiveTimeoutMs = 300;
    p.retryDelayMs = 20;
    ASSERT_TRUE(runToEnd(task, p));
    EXPECT_FALSE(task.lastSucceeded());
    EXPECT_TRUE(filesInTarget().empty());
}

TEST_F(DownloadTest, RequestCarriesItsHeaderLinesInOrder)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    Download task;
    ASSERT_TRUE(runToEnd(task, param(server.url("/request"), "request.txt", 1)));
    const std::string host = server.url("").substr(7);
    EXPECT_EQ(readFile(target / "request.txt"),
        "GET /request HTTP/1.1\r\n"
        "Host: "
            + host
            + "\r\n"
              "Accept: */*\r\n"
              "Referer: http://"
            + host
            + "\r\n"
              "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
              "Range: bytes=0-\r\n"
              "Pragma: no-cache\r\n"
              "Cache-Control: no-cache\r\n"
              "Connection: close\r\n\r\n");
}

TEST_F(DownloadTest, ResetsAtManyOffsetsGiveTheWholeFileOrAReportedFailure)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    const std::int64_t size = static_cast<std::int64_t>(data.size());
    const std::vector<std::int64_t> offsets{
        0, 1, 2, 1023, 1024, 4096, 10239, 10240, 65535, 262144, 1000000, size / 2, size - 10241, size - 2, size - 1};
    int identical = 0;
    for (const std::int64_t offset : offsets) {
        SCOPED_TRACE(offset);
        Download task;
        const std::string name = "reset" + std::to_string(offset) + ".bin";
        ASSERT_TRUE(runToEnd(task, param(server.url("/reset?at=" + std::to_string(offset)), name, 4)));
        if (task.lastSucceeded()) {
            EXPECT_TRUE(readFile(target / name) == data);
            ++identical;
        } else {
            EXPECT_FALSE(std::filesystem::exists(target / name));
        }
        EXPECT_FALSE(std::filesystem::exists(target / (name + ".part")));
    }
    // Every reset here is followed by a good answer, so every case heals.
    EXPECT_EQ(identical, static_cast<int>(offsets.size()));
}
