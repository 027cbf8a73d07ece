#include "download/controlfile.h"
#include "download/download.h"
#include "download/rangecheck.h"
#include "download/taskfixture.h"

#include <gtest/gtest.h>

using namespace download;

namespace {

class IntegrityTest : public TaskTest
{
protected:
    // Downloads `url` as `name`: the whole file arrives under that very name, and nothing else is left.
    void expectWholeFileAt(const std::string &url, const std::string &name)
    {
        Download task;
        ASSERT_TRUE(runToEnd(task, param(url, name, 4)));
        ASSERT_TRUE(task.lastSucceeded());
        EXPECT_EQ(task.lastPath(), target / name);
        EXPECT_TRUE(readFile(target / name) == data);
        EXPECT_EQ(filesInTarget(), std::vector<std::string>{name});
    }

    // Removes what a failed download may keep for a later start: only its partial and control files.
    void removePartialFiles(const std::string &name)
    {
        std::filesystem::remove(target / (name + ".part"));
        std::filesystem::remove(target / (name + ".part.ctl"));
    }
};

std::string versionB(const std::string &data)
{
    std::string b = data;
    for (char &c : b)
        c = static_cast<char>(c ^ 0x5A);
    return b;
}

int requestsTo(const std::vector<std::string> &log, const std::string &route)
{
    return static_cast<int>(std::count_if(
        log.begin(), log.end(), [&route](const std::string &line) { return line.rfind(route + " ", 0) == 0; }));
}

} // namespace

TEST_F(IntegrityTest, AnswersThatDoNotMatchTheirRequestNeverBecomeData)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    const struct
    {
        const char *path;
        bool heals;
    } cases[] = {
        {"/wrongstart", true}, // each offset is first answered from 1000 bytes later
        {"/overrun?len=524288", true}, // 206 bodies run on past their range with zeros
        {"/badlength?len=524288", false}, // Content-Length disagrees with Content-Range on every answer
        {"/wrong416?n=2", true}, // a range inside the file refused twice, then served
        {"/starrange?len=65536", false}, // 206 "bytes 0-65535/*": the end of a range is not the end of the file
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.path);
        Download task;
        ASSERT_TRUE(runToEnd(task, quickParam(server.url(row.path), "answer.bin", 4)));
        EXPECT_EQ(task.lastSucceeded(), row.heals);
        if (task.lastSucceeded()) {
            EXPECT_TRUE(readFile(target / "answer.bin") == data);
            std::filesystem::remove(target / "answer.bin");
        }
        EXPECT_TRUE(filesInTarget().empty());
    }
}

TEST_F(IntegrityTest, AFileThatChangesOnTheServerIsNeverMixed)
{
    const std::string b = versionB(data);
    const struct
    {
        const char *mode;
        std::optional<std::string> result; // nothing: either version, whole
    } cases[] = {
        {"etag", b}, // a new ETag, and If-Range answered with the whole new file
        {"total", b + std::string(1000, 'x')}, // no validators, another total
        // Every answer another version under another ETag, all of one size, without dates: as with a balanced
        // server's ETags, nothing pins ranges, and one connection takes one version whole.
        {"always", std::nullopt},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.mode);
        ScriptedServer server(dir.path() / "www" / "file.bin", log);
        Download task;
        TaskParam p = param(server.url(std::string("/changing?mode=") + row.mode), "changing.bin", 4);
        ASSERT_TRUE(runToEnd(task, p));
        ASSERT_TRUE(task.lastSucceeded());
        const std::string got = readFile(target / "changing.bin");
        EXPECT_TRUE(row.result ? got == *row.result : (got == data || got == b));
        std::filesystem::remove(target / "changing.bin");
        EXPECT_TRUE(filesInTarget().empty());
        takeLog();
    }
}

TEST_F(IntegrityTest, ARedirectToAnotherAddressMustProveItIsTheSameFile)
{
    // Requests from a nonzero offset are sent elsewhere: to another file of the same size, or to the same bytes
    // under another address. Only a validator that both answers carry can tell that the file is the same.
    writeFile(dir.path() / "www" / "other.bin", versionB(data));
    ScriptedServer server(dir.path() / "www" / "file.bin");
    ScriptedServer other(dir.path() / "www" / "other.bin");
    const struct
    {
        std::string path;
        bool succeeds;
    } cases[] = {
        {"/away?to=" + other.url("/file"), false}, // no validators at all
        {"/away?to=" + other.url("/tagged"), false}, // validators on one side only
        {"/away?to=" + server.url("/file?sig=2"), false}, // another path without validators
        {"/away?tagged=1&to=" + server.url("/tagged"), true}, // the same bytes and validators
        {"/away?to=/away?sig=2", true}, // only the query differs
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.path);
        Download task;
        ASSERT_TRUE(runToEnd(task, quickParam(server.url(row.path), "away.bin", 4)));
        EXPECT_EQ(task.lastSucceeded(), row.succeeds);
        if (row.succeeds) {
            EXPECT_TRUE(readFile(target / "away.bin") == data);
            std::filesystem::remove(target / "away.bin");
        } else {
            ASSERT_TRUE(task.lastError());
            EXPECT_EQ(task.lastError()->kind, DownloadError::Kind::Changed);
            removePartialFiles("away.bin");
        }
        EXPECT_TRUE(filesInTarget().empty());
    }
}

TEST_F(IntegrityTest, LaterRangedRequestsCarryIfRangeWithTheStrongETag)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    Download task;
    ASSERT_TRUE(runToEnd(task, param(server.url("/tagged"), "tagged.bin", 4)));
    ASSERT_TRUE(task.lastSucceeded());
    EXPECT_TRUE(readFile(target / "tagged.bin") == data);
    const std::vector<std::string> lines = takeLog();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "/tagged 0 -");
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_NE(lines[i].find(" \"t1\""), std::string::npos) << lines[i];
}

TEST_F(IntegrityTest, AnEmptyRemoteFileGivesAnEmptyFile)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    for (const char *path : {"/empty", "/empty416"}) {
        SCOPED_TRACE(path);
        Events fresh;
        Download task;
        TaskParam p = param(server.url(path), std::string(path + 1) + ".bin", 10);
        p.eventRoutine
            = [&fresh](int code, Download *, double value, int, Download *) { return fresh.routine(code, value); };
        ASSERT_TRUE(task.Start(p));
        ASSERT_TRUE(fresh.waitForEnd());
        EXPECT_TRUE(task.lastSucceeded());
        EXPECT_EQ(fresh.ended.load(), 1);
        EXPECT_EQ(fresh.totals.load(), 1);
        EXPECT_EQ(fresh.total.load(), 0.0);
        EXPECT_TRUE(std::filesystem::exists(target / (std::string(path + 1) + ".bin")));
        EXPECT_EQ(std::filesystem::file_size(target / (std::string(path + 1) + ".bin")), 0u);
    }
    EXPECT_EQ(filesInTarget(), (std::vector<std::string>{"empty.bin", "empty416.bin"}));
}

TEST_F(IntegrityTest, PartialFilesOfOthersAreNeverTouched)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    const std::string url = server.url("/file");
    writeFile(dir.path() / "outside" / "victim", "victim");
    writeFile(target / "mine.bin.part", "the user's own");
    std::filesystem::create_symlink(dir.path() / "outside" / "victim", target / "link.bin.part");
    writeFile(target / "other.bin.part", std::string(data.size(), 'o'));
    writeFile(target / "other.bin.part.ctl", formatControl({"http://elsewhere/other.bin", {}, {}, {}}));
    writeFile(target / "junk.bin.part", "junk");
    writeFile(target / "junk.bin.part.ctl", "not a record");
    writeFile(target / "temp.bin.part.ctl.new", "the user's own");
    std::filesystem::create_symlink(dir.path() / "outside" / "victim", target / "temp2.bin.part.ctl.new");
    // A partial file and record of this very download, beside a file of the user's where records are written.
    writeFile(target / "ours.bin.part", std::string(data.size(), 'o'));
    writeFile(target / "ours.bin.part.ctl",
        formatControl({url, {static_cast<std::int64_t>(data.size()), "", "", ""}, {}, {}}));
    writeFile(target / "ours.bin.part.ctl.new", "the user's own");
    for (const char *name : {"mine", "link", "junk", "temp", "temp2", "ours"}) {
        SCOPED_TRACE(name);
        Download task;
        ASSERT_TRUE(runToEnd(task, param(url, std::string(name) + ".bin", 4)));
        ASSERT_TRUE(task.lastSucceeded());
        EXPECT_EQ(task.lastPath(), target / (std::string(name) + "(1).bin"));
        EXPECT_TRUE(readFile(target / (std::string(name) + "(1).bin")) == data);
    }
    EXPECT_EQ(events.nameTaken.load(), 6);
    // A download of ours from another address, with nothing to vouch for its bytes, starts over in its place.
    Download task;
    ASSERT_TRUE(runToEnd(task, param(url, "other.bin", 4)));
    EXPECT_EQ(task.lastPath(), target / "other.bin");
    EXPECT_TRUE(readFile(target / "other.bin") == data);
    EXPECT_FALSE(std::filesystem::exists(target / "other.bin.part"));
    EXPECT_FALSE(std::filesystem::exists(target / "other.bin.part.ctl"));
    EXPECT_EQ(readFile(dir.path() / "outside" / "victim"), "victim");
    EXPECT_TRUE(std::filesystem::is_symlink(target / "link.bin.part"));
    EXPECT_EQ(readFile(target / "mine.bin.part"), "the user's own");
    EXPECT_EQ(readFile(target / "junk.bin.part.ctl"), "not a record");
    EXPECT_EQ(readFile(target / "temp.bin.part.ctl.new"), "the user's own");
    EXPECT_TRUE(std::filesystem::is_symlink(target / "temp2.bin.part.ctl.new"));
    EXPECT_EQ(readFile(target / "ours.bin.part.ctl.new"), "the user's own");
}

TEST_F(IntegrityTest, AFileWithoutALengthEndsWhereItsAnswerEnds)
{
    // Our own unfinished download whose record never learnt a total, with more bytes than the file now has.
    ScriptedServer server(dir.path() / "www" / "file.bin");
    const std::string url = server.url("/nolength");
    writeFile(target / "grown.bin.part", std::string(data.size() + 5000, 'g'));
    writeFile(target / "grown.bin.part.ctl", formatControl({url, {}, {}, {}}));
    expectWholeFileAt(url, "grown.bin");
}

TEST_F(IntegrityTest, ARecordThatWasBeingWrittenWhenARunEndedIsOurs)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    const std::string url = server.url("/file");
    const auto total = static_cast<std::int64_t>(data.size());
    for (const std::string &temporary : {std::string(), std::string("kavo-down"), formatControl({url, {}, {}, {}})}) {
        SCOPED_TRACE(temporary);
        writeFile(target / "resumed.bin.part", data.substr(0, 1000) + std::string(data.size() - 1000, 'x'));
        writeFile(target / "resumed.bin.part.ctl",
            formatControl({url, {total, "", "", ""}, {{0, 1000}}, {rangeCheck(data.substr(0, 1000))}}));
        writeFile(target / "resumed.bin.part.ctl.new", temporary);
        expectWholeFileAt(url, "resumed.bin");
        std::filesystem::remove(target / "resumed.bin");
    }
}

TEST_F(IntegrityTest, TwoDownloadsToOneTargetEachWriteTheirOwnFile)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    Download first;
    Download second;
    const TaskParam p = param(server.url("/slow?rate=1048576"), "same.bin", 4);
    ASSERT_TRUE(first.Start(p));
    ASSERT_TRUE(second.Start(p));
    ASSERT_TRUE(events.waitForEnd(2));
    ASSERT_TRUE(first.lastSucceeded());
    ASSERT_TRUE(second.lastSucceeded());
    EXPECT_NE(first.lastPath(), second.lastPath());
    EXPECT_EQ(filesInTarget(), (std::vector<std::string>{"same(1).bin", "same.bin"}));
    EXPECT_TRUE(readFile(target / "same.bin") == data);
    EXPECT_TRUE(readFile(target / "same(1).bin") == data);
}

TEST_F(IntegrityTest, AFileThatAppearsAtTheTargetMeanwhileIsKept)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    Download task;
    ASSERT_TRUE(task.Start(param(server.url("/slow?rate=1048576"), "late.bin", 4)));
    ASSERT_TRUE(waitUntil([&] { return task.Received() > 0 || events.ended.load() > 0; }));
    writeFile(target / "late.bin", "arrived meanwhile");
    ASSERT_TRUE(events.waitForEnd());
    ASSERT_TRUE(task.lastSucceeded());
    EXPECT_EQ(readFile(target / "late.bin"), "arrived meanwhile");
    EXPECT_EQ(task.lastPath(), target / "late(1).bin");
    EXPECT_TRUE(readFile(target / "late(1).bin") == data);
}

TEST_F(IntegrityTest, NamesFitTheFileSystemAndPathsStayNative)
{
    ScriptedServer server(dir.path() / "www" / "file.bin");
    std::string chinese;
    for (int i = 0; i < 84; ++i)
        chinese += "软";
    Download longName;
    ASSERT_TRUE(runToEnd(longName, param(server.url("/file"), chinese + ".zip", 4)));
    ASSERT_TRUE(longName.lastSucceeded());
    const std::string stored = longName.lastPath().filename().native();
    EXPECT_LE(stored.size() + std::string(".part.ctl.new").size(), 255u);
    EXPECT_EQ(stored.substr(stored.size() - 4), ".zip");
    EXPECT_EQ(stored.substr(0, 30), chinese.substr(0, 30));
    EXPECT_TRUE(readFile(longName.lastPath()) == data);

    // An emoji is outside GBK: the folder is used as it is named, never one whose name has a "?" instead.
    std::filesystem::create_directories(target / "a?");
    std::filesystem::create_directories(target / "a😀");
    Download emoji;
    ASSERT_TRUE(runToEnd(emoji, param(server.url("/file"), std::filesystem::path("a😀") / "x.bin", 4)));
    ASSERT_TRUE(emoji.lastSucceeded());
    EXPECT_TRUE(readFile(target / "a😀" / "x.bin") == data);
    EXPECT_TRUE(std::filesystem::is_empty(target / "a?"));
}

TEST_F(IntegrityTest, ClientErrorsEndAtOnceAndOthersEndAfterSixAttemptsWithoutProgress)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const struct
    {
        const char *path;
        bool succeeds;
        int requests; // to this path, the first answer included
        DownloadError::Kind kind;
        int status;
    } cases[] = {
        {"/status?code=404", false, 1, DownloadError::Kind::HttpStatus, 404},
        {"/status?code=403", false, 1, DownloadError::Kind::HttpStatus, 403},
        {"/status?code=503", false, 6, DownloadError::Kind::HttpStatus, 503},
        {"/status?code=429", false, 6, DownloadError::Kind::HttpStatus, 429},
        {"/busy?n=6", false, 6, DownloadError::Kind::HttpStatus, 503},
        {"/busy?n=5", true, 6, DownloadError::Kind::HttpStatus, 0}, // the sixth attempt succeeds
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.path);
        Download task;
        ASSERT_TRUE(runToEnd(task, quickParam(server.url(row.path), "status.bin", 1)));
        EXPECT_EQ(task.lastSucceeded(), row.succeeds);
        const std::string route = std::string(row.path).substr(0, std::string(row.path).find('?'));
        EXPECT_EQ(requestsTo(takeLog(), route), row.requests);
        if (!row.succeeds) {
            ASSERT_TRUE(task.lastError());
            EXPECT_EQ(task.lastError()->kind, row.kind);
            EXPECT_EQ(task.lastError()->httpStatus, row.status);
        }
        std::filesystem::remove(target / "status.bin");
        EXPECT_TRUE(filesInTarget().empty());
    }
}

TEST_F(IntegrityTest, AddressesAreCheckedBeforeAnythingIsCreated)
{
    ScriptedServer server(dir.path() / "www" / "file.bin", log);
    const std::string host = server.url("").substr(7);
    for (const std::string &refused :
        {std::string(), host + "/file", server.url("/a b"), std::string("ftp://") + host}) {
        SCOPED_TRACE(refused);
        Download task;
        ASSERT_TRUE(runToEnd(task, param(refused, "refused.bin", 4)));
        ASSERT_TRUE(task.lastError());
        EXPECT_EQ(task.lastError()->kind, DownloadError::Kind::Address);
        EXPECT_TRUE(filesInTarget().empty());
    }
    EXPECT_TRUE(takeLog().empty());

    // Surrounding blanks go; non-ASCII bytes go out unchanged: libcurl escapes them in the path, which names
    // the same bytes, and leaves them raw in the query.
    Download task;
    ASSERT_TRUE(runToEnd(task, param(" " + server.url("/文件?名=1") + " ", "unicode.bin", 1)));
    ASSERT_TRUE(task.lastSucceeded());
    EXPECT_TRUE(readFile(target / "unicode.bin") == data);
    const std::vector<std::string> lines = takeLog();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "/%e6%96%87%e4%bb%b6 0 -");
}
