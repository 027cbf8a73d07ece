#include "common/gbk.h"
#include "common/sha256.h"
#include "download/controlfile.h"
#include "download/download.h"
#include "download/rangecheck.h"
#include "download/taskfixture.h"
#include "support/process.h"

#include <gtest/gtest.h>

using namespace download;

namespace {

class CheckedDownloadTest : public TaskTest
{
protected:
    TaskParam checkedParam(const std::string &url, const std::string &name, const std::string &expected)
    {
        TaskParam p = quickParam(url, name, 4);
        p.expectedSha256 = common::sha256(expected);
        return p;
    }

    // A partial file of `name` that holds `prefix` as its first bytes, recorded as finished with the check of
    // those bytes, and zeros after.
    void leavePartial(const std::string &url, const std::string &name, const std::string &prefix)
    {
        const auto total = static_cast<std::int64_t>(data.size());
        writeFile(target / (name + ".part"), prefix + std::string(data.size() - prefix.size(), '\0'));
        writeFile(target / (name + ".part.ctl"),
            formatControl(
                {url, {total, "", "", ""}, {{0, static_cast<std::int64_t>(prefix.size())}}, {rangeCheck(prefix)}}));
    }
};

} // namespace

TEST_F(CheckedDownloadTest, OnlyAFileWithTheExpectedDigestTakesItsName)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    std::string wrong = data;
    wrong[data.size() / 2] ^= 1;
    const struct
    {
        const char *path;
        bool right;
    } cases[] = {
        {"/file", true}, // ranges over four connections
        {"/nolength", true}, // one answer without a length
        {"/file", false},
        {"/nolength", false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(std::string(row.path) + (row.right ? " right" : " wrong"));
        Download task;
        ASSERT_TRUE(runToEnd(task, checkedParam(server.url(row.path), "checked.bin", row.right ? data : wrong)));
        if (row.right) {
            ASSERT_TRUE(task.lastSucceeded());
            EXPECT_TRUE(readFile(target / "checked.bin") == data);
            std::filesystem::remove(target / "checked.bin");
            continue;
        }
        ASSERT_TRUE(task.lastError());
        EXPECT_EQ(task.lastError()->kind, DownloadError::Kind::Checksum);
        EXPECT_NE(describeDownloadError(*task.lastError()).find(common::gbk("文件校验不符")), std::string::npos);
        EXPECT_TRUE(filesInTarget().empty()); // no final name, and nothing left to resume from
    }
}

TEST_F(CheckedDownloadTest, AResumedDownloadIsCheckedWithTheBytesItFoundOnDisk)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const std::string url = server.url("/file");
    const std::size_t have = 2 << 20;
    std::string corrupted = data.substr(0, have);
    corrupted[12345] ^= 1;
    const struct
    {
        const char *name;
        std::string prefix;
        bool succeeds;
    } cases[] = {
        {"the recorded bytes are right", data.substr(0, have), true},
        {"a record whose bytes agree with it, but not with the file", corrupted, false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        leavePartial(url, "resumed.bin", row.prefix);
        Download task;
        ASSERT_TRUE(runToEnd(task, checkedParam(url, "resumed.bin", data)));
        EXPECT_EQ(task.lastSucceeded(), row.succeeds);
        for (const std::string &line : takeLog())
            EXPECT_EQ(line.find("/file 0 "), std::string::npos) << "the recorded bytes were fetched again";
        if (row.succeeds) {
            EXPECT_TRUE(readFile(target / "resumed.bin") == data);
            std::filesystem::remove(target / "resumed.bin");
        } else {
            ASSERT_TRUE(task.lastError());
            EXPECT_EQ(task.lastError()->kind, DownloadError::Kind::Checksum);
        }
        EXPECT_TRUE(filesInTarget().empty());
    }
}

TEST_F(CheckedDownloadTest, AFileOverTheLimitIsRefusedAtOnce)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const auto size = static_cast<std::int64_t>(data.size());
    const struct
    {
        const char *path;
        std::int64_t maxBytes;
        bool succeeds;
    } cases[] = {
        {"/file", size - 1, false}, // the announced total is over the limit
        {"/nolength", 1 << 20, false}, // no total: the bytes past the limit end it
        {"/file", size, true},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(std::string(row.path) + " " + std::to_string(row.maxBytes));
        Download task;
        TaskParam p = quickParam(server.url(row.path), "limited.bin", 4);
        p.maxBytes = row.maxBytes;
        ASSERT_TRUE(runToEnd(task, p));
        ASSERT_EQ(task.lastSucceeded(), row.succeeds);
        const std::vector<std::string> requests = takeLog();
        if (!row.succeeds) {
            ASSERT_TRUE(task.lastError());
            EXPECT_EQ(task.lastError()->kind, DownloadError::Kind::TooLarge);
            EXPECT_EQ(requests.size(), 1u) << "asked again after the limit was passed";
            EXPECT_TRUE(filesInTarget().empty());
        } else {
            std::filesystem::remove(target / "limited.bin");
        }
    }
}

TEST_F(CheckedDownloadTest, TheCommandLineChecksTheDigestItIsGiven)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    const std::string start = binaryDir() + "/kavo-cli download '" + server.url("/file") + "' '"
        + (target / "cli.bin").string() + "' --sha256 ";
    const CommandResult right = runCommand(start + common::toHex(common::sha256(data)) + " 2>&1");
    EXPECT_EQ(right.status, 0) << right.out;
    EXPECT_TRUE(readFile(target / "cli.bin") == data);
    std::filesystem::remove(target / "cli.bin");

    const CommandResult wrong = runCommand(start + std::string(64, 'a') + " 2>&1");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.out.find("文件校验不符"), std::string::npos) << wrong.out;
    EXPECT_TRUE(filesInTarget().empty());

    const CommandResult bad = runCommand(start + "abc 2>&1");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.out.find("--sha256"), std::string::npos) << bad.out;
}

TEST_F(CheckedDownloadTest, TheCommandLineTakesASpeedLimitAcrossConnections)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    const std::string start = binaryDir() + "/kavo-cli download '" + server.url("/file") + "' '"
        + (target / "limited.bin").string() + "' -n 4 --limit-rate ";
    const CommandResult limited = runCommand(start + "8M 2>&1");
    EXPECT_EQ(limited.status, 0) << limited.out;
    EXPECT_TRUE(readFile(target / "limited.bin") == data);
    const CommandResult bad = runCommand(start + "5X 2>&1");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.out.find("--limit-rate"), std::string::npos) << bad.out;
}
