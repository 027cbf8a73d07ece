#include "download/controlfile.h"
#include "download/fetch.h"
#include "download/rangecheck.h"
#include "download/taskfixture.h"
#include "support/process.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <sstream>

using namespace download;

namespace {

class CommandLineDownloadTest : public TaskTest
{
protected:
    std::string cli(const std::string &arguments) const { return binaryDir() + "/kavo-cli " + arguments + " 2>&1"; }

    static std::optional<ControlRecord> record(const std::filesystem::path &control)
    {
        return parseControl(readFile(control));
    }

    static std::int64_t finishedBytes(const std::optional<ControlRecord> &record)
    {
        std::int64_t bytes = 0;
        for (const ByteRange &range : record ? record->finished : std::vector<ByteRange>{})
            bytes += range.size();
        return bytes;
    }
};

} // namespace

TEST_F(CommandLineDownloadTest, KilledDownloadResumesWithoutFetchingRecordedBytesAgain)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const std::string url = server.url("/slow?rate=131072");
    // Killed once the control file names the address only, then after 0.5 MiB and after 1.5 MiB (of 3) are
    // recorded; the record follows the data about every second.
    for (const std::int64_t moment : {std::int64_t(0), std::int64_t(1) << 19, std::int64_t(3) << 19}) {
        SCOPED_TRACE(moment);
        const std::filesystem::path file = target / ("killed" + std::to_string(moment) + ".bin");
        const std::filesystem::path control = file.string() + ".part.ctl";
        QProcess first;
        first.start(QString::fromStdString(binaryDir() + "/kavo-cli"),
            {QStringLiteral("download"), QString::fromStdString(url), QString::fromStdString(file.string()),
                QStringLiteral("-n"), QStringLiteral("4")});
        ASSERT_TRUE(first.waitForStarted());
        ASSERT_TRUE(waitUntil(
            [&] { return (record(control) && finishedBytes(record(control)) >= moment) || first.waitForFinished(0); }));
        ASSERT_EQ(first.state(), QProcess::Running) << "ended before it could be killed";
        first.kill();
        first.waitForFinished();
        const std::optional<ControlRecord> checkpoint = record(control);
        ASSERT_TRUE(checkpoint);
        // Requests of the killed run that the server reads late reach its log before this one.
        (void)FetchUrl(server.url("/status?code=200"));
        takeLog();

        const CommandResult rerun = runCommand(cli("download '" + url + "' '" + file.string() + "' -n 4"));
        ASSERT_EQ(rerun.status, 0) << rerun.out;
        EXPECT_TRUE(readFile(file) == data);
        EXPECT_FALSE(std::filesystem::exists(file.string() + ".part"));
        EXPECT_FALSE(std::filesystem::exists(control));
        for (const std::string &line : takeLog()) {
            const auto from = loggedOffset(line);
            ASSERT_TRUE(from) << line;
            for (const ByteRange &done : checkpoint->finished)
                EXPECT_FALSE(*from >= done.begin && *from < done.end) << line << " asks again for a recorded range";
        }
    }
}

TEST_F(CommandLineDownloadTest, FailuresGiveTheirReasonAndANonZeroStatus)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const CommandResult missing
        = runCommand(cli("download '" + server.url("/status?code=404") + "' '" + (target / "x.bin").string() + "'"));
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.out.find("HTTP 404"), std::string::npos) << missing.out;

    const CommandResult refused = runCommand(cli("fetch http://127.0.0.1:1/"));
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.out.find("无法连接到服务器"), std::string::npos) << refused.out;
    const CommandResult guessed = runCommand(cli("fetch " + server.url("/file").substr(7)));
    EXPECT_NE(guessed.status, 0);
    EXPECT_NE(guessed.out.find("http://"), std::string::npos) << guessed.out;
    EXPECT_EQ(runCommand(binaryDir() + "/kavo-cli fetch '" + server.url("/404") + "'").status, 0);

    // A file size limit stands in for a full disk: the write fails and is not tried again.
    takeLog();
    const CommandResult full = runCommand("bash -c \"trap '' XFSZ; ulimit -f 1024; " + binaryDir()
        + "/kavo-cli download '" + server.url("/file") + "' '" + (target / "big.bin").string() + "' 2>&1\"");
    EXPECT_NE(full.status, 0);
    EXPECT_NE(full.out.find("无法写入文件"), std::string::npos) << full.out;
    EXPECT_EQ(takeLog().size(), 1u);
    EXPECT_TRUE(filesInTarget().empty());
}

TEST_F(CommandLineDownloadTest, BytesTheDiskRefusedAreNeverRecorded)
{
    // Two MiB are in hand; the rest lies beyond a file size limit of one MiB, which stands in for a full disk.
    // The first answer's header comes at once and its first bytes after 2.5 s, when the record is due again.
    ScriptedServer server(dir.path() / "www" / "file.bin");
    const std::string url = server.url("/late?ms=2500");
    const std::filesystem::path file = target / "late.bin";
    const std::filesystem::path control = file.string() + ".part.ctl";
    const std::int64_t have = 2 << 20;
    const auto total = static_cast<std::int64_t>(data.size());
    writeFile(file.string() + ".part", data.substr(0, have) + std::string(data.size() - have, '\0'));
    writeFile(control, formatControl({url, {total, "", "", ""}, {{0, have}}, {rangeCheck(data.substr(0, have))}}));
    const CommandResult full = runCommand(
        "bash -c \"trap '' XFSZ; ulimit -f 1024; " + cli("download '" + url + "' '" + file.string() + "' -n 1") + "\"");
    EXPECT_NE(full.status, 0);
    EXPECT_NE(full.out.find("无法写入文件"), std::string::npos) << full.out;
    ASSERT_TRUE(record(control));
    EXPECT_EQ(record(control)->finished.size(), 1u);
    EXPECT_EQ(finishedBytes(record(control)), have);

    const CommandResult rerun = runCommand(cli("download '" + url + "' '" + file.string() + "' -n 1"));
    ASSERT_EQ(rerun.status, 0) << rerun.out;
    EXPECT_TRUE(readFile(file) == data);
}

TEST_F(CommandLineDownloadTest, TargetOutsideGbkIsSavedWhereItWasNamed)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    std::filesystem::create_directories(target / "a?");
    std::filesystem::create_directories(target / "a😀");
    const std::filesystem::path file = target / "a😀" / "x.bin";
    const CommandResult result
        = runCommand(binaryDir() + "/kavo-cli download '" + server.url("/file") + "' '" + file.string() + "'");
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.out, file.string() + "\n");
    EXPECT_TRUE(readFile(file) == data);
    EXPECT_TRUE(std::filesystem::is_empty(target / "a?"));
}

TEST_F(CommandLineDownloadTest, AClosedProgressPipeNeitherEndsNorSpoilsTheDownload)
{
    // Progress goes to a pipe whose reader leaves after 10 bytes; the path still goes to our own output.
    ScriptedServer server(dir.path() / "www" / "file.bin");
    const std::string file = (target / "piped.bin").string();
    const CommandResult piped
        = runCommand("bash -c 'exec 3>&1; " + binaryDir() + "/kavo-cli download \"" + server.url("/slow?rate=524288")
            + "\" \"" + file + "\" -n 2 2>&1 >&3 3>&- | head -c 10 >/dev/null; echo status=${PIPESTATUS[0]}'");
    EXPECT_NE(piped.out.find("status=0"), std::string::npos) << piped.out;
    EXPECT_NE(piped.out.find(file), std::string::npos) << piped.out;
    EXPECT_TRUE(readFile(file) == data);
}
