#include "catalog/loader.h"
#include "catalog/search.h"
#include "cli/records.h"
#include "cli/searchhits.h"
#include "cli/stretchwork.h"
#include "common/gbk.h"
#include "downloads/store.h"
#include "support/mutelistener.h"
#include "support/process.h"
#include "support/tempdir.h"
#include "update/newrecords.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using common::gbk;

namespace {

CommandResult kavoCli(const TempDir &home, const std::string &arguments)
{
    return runCommand(binaryDir() + "/kavo-cli --home '" + home.path().string() + "' " + arguments + " 2>/dev/null");
}

// The same with standard error in place of standard output.
CommandResult kavoCliErrors(const TempDir &home, const std::string &arguments)
{
    return runCommand(
        binaryDir() + "/kavo-cli --home '" + home.path().string() + "' " + arguments + " 2>&1 >/dev/null");
}

} // namespace

TEST(CliList, PrintsRowsAsUtf8RecordsWithEscapes)
{
    TempDir home;
    writeFile(home.path() / "自动更新" / "软件下载.txt",
        gbk("头\r\n(软件名称：A\tB-软件大小：1MB-分享时间：2012.1.1-下载地址：http://x\\y-)\r\n"));
    const CommandResult byNumber = kavoCli(home, "list 1");
    EXPECT_EQ(byNumber.status, 0);
    EXPECT_EQ(byNumber.out, "A\\tB\t1MB\t2012.1.1\t http://x\\\\y\t  绿色软件\n");
    EXPECT_EQ(kavoCli(home, "list 软件下载").out, byNumber.out);
}

TEST(CliList, BackslashAsSecondByteIsNotEscaped)
{
    TempDir home;
    // 乗 is 81 5C in GBK: its second byte is a backslash.
    writeFile(home.path() / "自动更新" / "常用软件.txt", gbk("(软件名称：") + "\x81\x5C" + "-)\n");
    EXPECT_EQ(kavoCli(home, "list 5").out, common::utf8FromGbk("\x81\x5C") + "\t\t\t \t  安全软件\n");
}

TEST(CliList, ALoneLeadByteDoesNotTakeTheEscapeFromATabOrALineBreak)
{
    // The lead bytes pair with nothing GBK knows: each shows as U+FFFD, and the TAB and the line break after it
    // stand on their own and are escaped, so the record stays one line of five fields.
    TempDir home;
    writeFile(home.path() / "自动更新" / "常用软件.txt", gbk("(软件名称：") + "a\x81\tb\x81\n-)\n");
    EXPECT_EQ(kavoCli(home, "list 5").out, "a\uFFFD\\tb\uFFFD\\n\t\t\t \t  安全软件\n");
}

TEST(CliList, StretchesLeaveInFileOrderWhicheverWorkerFinishesFirst)
{
    TempDir dir;
    std::string file;
    std::string bodies;
    for (int i = 0; i < 3000; ++i) {
        const std::string body = std::to_string(i) + std::string(static_cast<std::size_t>(i % 97), 'x');
        file += "(" + body + ")\n";
        bodies += body + "\n";
    }
    writeFile(dir.path() / "f.txt", file);
    const cli::StretchWork work = [](std::string_view stretch, std::string &out) {
        // Uneven work, so that later stretches often finish before earlier ones.
        volatile std::size_t spin = 0;
        for (std::size_t i = 0; i < (stretch.size() % 13) * 20000; ++i)
            spin = spin + i;
        catalog::forEachBody(stretch, [&out](std::string_view body) { out.append(body).append("\n"); });
    };
    for (const unsigned workers : {1u, 2u, 3u, 8u}) {
        SCOPED_TRACE(workers);
        cli::Streams streams;
        EXPECT_TRUE(cli::writeStretches(dir.path() / "f.txt", work, streams, workers, 500).has_value());
        EXPECT_EQ(streams.out, bodies);
    }
    cli::Streams none;
    EXPECT_TRUE(cli::writeStretches(dir.path() / "missing.txt", work, none, 2).has_value());
    EXPECT_EQ(none.out, "");
}

TEST(CliSearch, FilesReadSideBySideLeaveOneAfterAnotherInOrder)
{
    // Files of different lengths, a missing one and a folder, worked on unevenly: whatever the team's size
    // and however little output may wait ahead of the writer, each file's bodies come out whole, the files in
    // the order given, and the folder is told as the one file that could not be read.
    TempDir dir;
    std::vector<cli::StretchSource> sources;
    std::string expected;
    const auto work = [](std::string_view stretch, std::string &out) {
        volatile std::size_t spin = 0;
        for (std::size_t i = 0; i < (stretch.size() % 13) * 5000; ++i)
            spin = spin + i;
        catalog::forEachBody(stretch, [&out](std::string_view body) { out.append(body).append("\n"); });
    };
    for (int f = 0; f < 4; ++f) {
        std::string file;
        for (int i = 0; i < 700 * (4 - f); ++i) {
            const std::string body = std::to_string(f) + ":" + std::to_string(i) + std::string(i % 31, 'x');
            file += "(" + body + ")\n";
            expected += body + "\n";
        }
        const std::filesystem::path path = dir.path() / (std::to_string(f) + ".txt");
        writeFile(path, file);
        sources.push_back({path, work});
        if (f == 1)
            sources.push_back({dir.path() / "missing.txt", work});
    }
    std::filesystem::create_directories(dir.path() / "folder.txt");
    sources.insert(sources.begin() + 3, {dir.path() / "folder.txt", work});
    for (const unsigned workers : {1u, 2u, 3u}) {
        for (const std::size_t held : {std::size_t{0}, std::size_t{300}, std::size_t{1} << 20}) {
            SCOPED_TRACE(std::to_string(workers) + " workers, " + std::to_string(held) + " bytes held");
            cli::Streams streams;
            const std::vector<catalog::ReadFailure> failures
                = cli::writeStretches(sources, streams, {workers, 400, held});
            EXPECT_EQ(streams.out, expected);
            ASSERT_EQ(failures.size(), 1u);
            EXPECT_EQ(failures[0].file, dir.path() / "folder.txt");
        }
    }
}

TEST(CliSearch, ALaterFileIsWorkedOnWhileAnEarlierOneIsStillAtWork)
{
    // The first file's one member waits until the second file has been worked on: with two workers the second
    // file is taken up meanwhile. Worked on one after the other, the wait would give up.
    TempDir dir;
    writeFile(dir.path() / "a.txt", "(a)\n");
    writeFile(dir.path() / "b.txt", "(b)\n");
    std::promise<void> secondWorked;
    std::shared_future<void> second = secondWorked.get_future().share();
    std::atomic<bool> waitedLong{false};
    const std::vector<cli::StretchSource> sources{
        {dir.path() / "a.txt",
            [&](std::string_view stretch, std::string &out) {
                if (!stretch.empty() && second.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
                    waitedLong = true;
                out.assign(stretch);
            }},
        {dir.path() / "b.txt", [&](std::string_view stretch, std::string &out) {
             out.assign(stretch);
             if (!stretch.empty()) // the text before the first "(" is a stretch of its own
                 secondWorked.set_value();
         }}};
    cli::Streams streams;
    EXPECT_TRUE(cli::writeStretches(sources, streams, {2, 400, 1024}).empty());
    EXPECT_FALSE(waitedLong);
    EXPECT_EQ(streams.out, "a)\nb)\n");
}

TEST(CliSearch, OutputHeldAheadOfTheWriterStaysNearItsLimit)
{
    // The first file's one member is held at work while the second file is worked on: the second may run ahead
    // only until about 3,000 bytes of its output wait, three of its stretches, not its fifty. The first is let go
    // once the other worker has nothing it may read and waits, or once all fifty are done when the limit fails.
    TempDir dir;
    writeFile(dir.path() / "a.txt", "(a)\n");
    std::string many;
    for (int i = 0; i < 50; ++i)
        many += "(" + std::string(390, 'b') + ")\n";
    writeFile(dir.path() / "b.txt", many);
    std::mutex mutex;
    std::condition_variable progress;
    int secondDone = 0; // guarded by mutex
    bool workerWaits = false; // guarded by mutex
    int doneWhenReleased = -1;
    bool released = false;
    const std::vector<cli::StretchSource> sources{{dir.path() / "a.txt",
                                                      [&](std::string_view stretch, std::string &out) {
                                                          out.assign(stretch);
                                                          if (stretch.empty())
                                                              return;
                                                          std::unique_lock lock(mutex);
                                                          released = progress.wait_for(lock, std::chrono::seconds(60),
                                                              [&] { return workerWaits || secondDone == 50; });
                                                          doneWhenReleased = secondDone;
                                                      }},
        {dir.path() / "b.txt", [&](std::string_view stretch, std::string &out) {
             if (stretch.empty())
                 return;
             out.assign(1000, 'b');
             const std::lock_guard lock(mutex);
             ++secondDone;
             progress.notify_one();
         }}};
    cli::StretchLimits limits{2, 400, 3000};
    limits.waiting = [&] {
        const std::lock_guard lock(mutex);
        workerWaits = true;
        progress.notify_one();
    };
    cli::Streams streams;
    EXPECT_TRUE(cli::writeStretches(sources, streams, limits).empty());
    EXPECT_TRUE(released);
    EXPECT_GE(doneWhenReleased, 1);
    EXPECT_LE(doneWhenReleased, 4); // three, and one taken up before the third was done
    EXPECT_EQ(secondDone, 50);
    EXPECT_EQ(streams.out, "a)\n" + std::string(50 * 1000, 'b'));
}

TEST(CliList, OutputThatCannotBeWrittenStopsTheReadingAndFailsTheCommand)
{
    TempDir dir;
    std::string file;
    for (int i = 0; i < 20000; ++i)
        file += "(" + std::to_string(i) + ")\n";
    writeFile(dir.path() / "f.txt", file);
    std::atomic<int> worked{0};
    const cli::StretchWork work = [&worked](std::string_view stretch, std::string &out) {
        ++worked;
        out.assign(stretch);
    };
    cli::Streams full;
    full.outFile = std::fopen("/dev/full", "w");
    ASSERT_NE(full.outFile, nullptr);
    std::setvbuf(full.outFile, nullptr, _IONBF, 0);
    EXPECT_TRUE(cli::writeStretches(dir.path() / "f.txt", work, full, 2, 100).has_value());
    std::fclose(full.outFile);
    EXPECT_EQ(full.writeError, ENOSPC);
    EXPECT_LT(worked.load(), 20); // of more than a thousand stretches: what was read when the first write failed

    // The whole command: the reason on stderr, exit 2; a pipe whose reader went away (SIGPIPE ignored, as some
    // callers leave it) ends the command as quickly, without a word.
    TempDir home;
    for (int i = 0; i < 20; ++i)
        file += file.substr(0, 100000);
    writeFile(home.path() / "自动更新" / "软件下载.txt", file);
    const std::string cli = binaryDir() + "/kavo-cli --home '" + home.path().string() + "' ";
    const std::string errors = " 2>'" + (home.path() / "err").string() + "'";
    EXPECT_EQ(runCommand(cli + "list 1 >/dev/full" + errors).status, 2);
    EXPECT_EQ(readFile(home.path() / "err"), "kavo-cli: 无法写出结果：磁盘已满\n");
    const CommandResult goneReader = runCommand(
        "bash -c \"trap '' PIPE; " + cli + "list 1" + errors + " | head -c 1 >/dev/null; echo \\${PIPESTATUS[0]}\"");
    EXPECT_EQ(goneReader.out, "2\n");
    EXPECT_EQ(readFile(home.path() / "err"), "");
}

TEST(CliList, ListFilesThatCannotBeReadFailWithTheReason)
{
    // A folder named like a list, and a pipe that nobody writes to: the command says which file and why, and
    // does not wait. The search prints the hits of the files it could read.
    TempDir home;
    const std::filesystem::path lists = home.path() / "自动更新";
    std::filesystem::create_directories(lists / "软件下载.txt");
    ASSERT_EQ(::mkfifo((lists / "源码下载.txt").c_str(), 0600), 0);
    writeFile(lists / "常用软件.txt", gbk("(软件名称：Zip-)\n"));
    const CommandResult folder = kavoCliErrors(home, "list 1");
    EXPECT_EQ(folder.status, 2);
    EXPECT_EQ(folder.out, "kavo-cli: 无法读取 " + (lists / "软件下载.txt").string() + "：是一个文件夹\n");
    EXPECT_EQ(kavoCliErrors(home, "list 2").out,
        "kavo-cli: 无法读取 " + (lists / "源码下载.txt").string() + "：不是普通文件\n");
    const CommandResult hits = kavoCli(home, "search Zip");
    EXPECT_EQ(hits.status, 2);
    EXPECT_EQ(hits.out, "0\tZip\t \n");
    EXPECT_EQ(kavoCliErrors(home, "search Zip").out,
        "kavo-cli: 无法读取 " + (lists / "软件下载.txt").string() + "：是一个文件夹\nkavo-cli: 无法读取 "
            + (lists / "源码下载.txt").string() + "：不是普通文件\n");
    EXPECT_EQ(kavoCli(home, "list 3").status, 0); // a missing file is an empty list
}

TEST(CliList, UnknownCategoryFails)
{
    TempDir home;
    EXPECT_NE(kavoCli(home, "list 7").status, 0);
    EXPECT_NE(kavoCli(home, "list").status, 0);
    EXPECT_NE(kavoCli(home, "nonsense").status, 0);
}

TEST(CliList, LargeCatalogsComeOutWholeAndInOrder)
{
    // Files of many read stretches and output blocks, worked on side by side: every record once, in file
    // order, and the search's hits in category order, the same as the program's own load and search give.
    TempDir home;
    for (const catalog::Category &c : catalog::categories()) {
        std::string file;
        for (int i = 0; i < 20000; ++i) {
            file += "(" + c.nameKey + gbk(i % 7 == 0 ? "播放器\t" : "Zip工具") + std::to_string(i) + "-" + c.sizeKey
                + "1MB-" + catalog::addressKey() + "http://127.0.0.1/" + std::to_string(c.number) + "/"
                + std::to_string(i) + "-)\r\n";
        }
        writeFile(catalog::categoryFile(home.path(), c), file);
    }
    std::string rows;
    for (const catalog::CatalogItem &r : catalog::loadCategory(home.path(), catalog::category(3)))
        rows += cli::utf8Record({r.name, r.size, r.time, r.address, r.tag});
    EXPECT_EQ(kavoCli(home, "list 3").out, rows);
    std::string hits;
    std::size_t count = 0;
    for (const catalog::SearchHit &h : catalog::searchCatalog(home.path(), catalog::SearchCriterion("Zip"))) {
        hits += cli::utf8Record({std::to_string(h.icon), h.name, h.address});
        ++count;
    }
    EXPECT_EQ(count, 5u * (20000 - 2858));
    EXPECT_EQ(kavoCli(home, "search Zip").out, hits);
}

TEST(CliSetting, WritesAndReadsGbkSettings)
{
    TempDir home;
    EXPECT_EQ(kavoCli(home, "setting get 记录 名称 网友").out, "网友\n");
    EXPECT_EQ(kavoCli(home, "setting set 记录 名称 '张 三'").status, 0);
    EXPECT_EQ(kavoCli(home, "setting get 记录 名称").out, "张 三\n");
    EXPECT_EQ(readFile(home.path() / "配置"), gbk("[记录]\r\n名称=张 三\r\n"));
}

TEST(CliSetting, RefusedWritesExitWithTheReason)
{
    TempDir home;
    const CommandResult forged
        = kavoCliErrors(home, "setting set 记录 \"$(printf 'k\\r\\n[更新]\\r\\n软件下载')\" 9.9");
    EXPECT_EQ(forged.status, 2);
    EXPECT_NE(forged.out.find("无法写入配置文件：键名含有换行"), std::string::npos) << forged.out;
    EXPECT_EQ(kavoCli(home, "setting get 更新 软件下载 1.0").out, "1.0\n");
    EXPECT_EQ(kavoCli(home, "setting set '记录]' 名称 x").status, 2);
    // Bytes that are not UTF-8, and characters that GBK has no form for, would be stored as "?".
    const CommandResult notUtf8 = kavoCliErrors(home, "setting set 记录 名称 \"$(printf 'a\\377')\"");
    EXPECT_EQ(notUtf8.status, 2);
    EXPECT_NE(notUtf8.out.find("无法写入配置文件：值含有字节 0xFF，它不是 UTF-8"), std::string::npos) << notUtf8.out;
    const CommandResult noGbk = kavoCliErrors(home, "setting set 记录 😀 x");
    EXPECT_EQ(noGbk.status, 2);
    EXPECT_NE(noGbk.out.find("无法写入配置文件：键名\"😀\"（U+1F600）在 GBK 中没有"), std::string::npos) << noGbk.out;
    EXPECT_FALSE(std::filesystem::exists(home.path() / "配置"));

    ASSERT_EQ(kavoCli(home, "setting set 记录 名称 old").status, 0);
    std::filesystem::permissions(home.path() / "配置", std::filesystem::perms::owner_read);
    const CommandResult readOnly = kavoCliErrors(home, "setting set 记录 名称 new");
    EXPECT_EQ(readOnly.status, 2);
    EXPECT_NE(readOnly.out.find("是只读的"), std::string::npos) << readOnly.out;
    EXPECT_EQ(kavoCli(home, "setting get 记录 名称").out, "old\n");
}

TEST(CliSearch, SideBySideSearchWritesWhatASearchOnOneThreadFinds)
{
    // Lists whose records straddle every stretch size below, some longer than a stretch, with "Zip" also hidden
    // in the second byte of a character and one list missing: for each text and however the work is shared,
    // the hits written are those a search on one thread finds, in the same order.
    TempDir home;
    std::uint32_t seed = 7;
    const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    const std::array<std::string, 4> starts{gbk("播放器"), "Zip", gbk("乑ip"), "Fire"};
    for (const catalog::Category &c : catalog::categories()) {
        if (c.number == 4)
            continue;
        std::string file = gbk("KAVO 列表\r\n");
        for (int i = 0; i < 3000; ++i) {
            const std::string name = starts[next() % starts.size()] + std::to_string(i)
                + std::string(next() % 5 == 0 ? next() % 900 : 0, 'x');
            file += "(" + c.nameKey + name + "-" + c.sizeKey + "1MB-" + catalog::addressKey() + "http://127.0.0.1/"
                + std::to_string(i) + "-)\r\n";
        }
        writeFile(catalog::categoryFile(home.path(), c), file);
    }
    const std::vector<cli::StretchLimits> shares{
        {1, 64}, {2, 64}, {3, 300}, {2, 4096, 0}, {2, 512 * 1024}, {8, 1000, 100}};
    for (const std::string &text : {std::string("Zip"), std::string(), gbk("播放器"), gbk("乑"), std::string("ip"),
             std::string("9x"), std::string("nowhere")}) {
        std::string expected;
        for (const catalog::SearchHit &h : catalog::searchCatalog(home.path(), catalog::SearchCriterion(text)))
            expected += cli::utf8Record({std::to_string(h.icon), h.name, h.address});
        for (const cli::StretchLimits &share : shares) {
            SCOPED_TRACE(text + ": " + std::to_string(share.workers) + " workers, " + std::to_string(share.stretchBytes)
                + " bytes a stretch");
            cli::Streams streams;
            std::vector<catalog::ReadFailure> failures;
            EXPECT_EQ(cli::writeHitsInFileOrder(home.path(), text, streams, share, failures), !expected.empty());
            EXPECT_EQ(streams.out, expected);
            EXPECT_TRUE(failures.empty());
        }
    }
}

TEST(CliSearch, PrintsIconNameAndAddressOrTheNotFoundText)
{
    TempDir home;
    writeFile(home.path() / "自动更新" / "源码下载.txt", gbk("(源码名称：贪吃蛇-下载地址：http://s-)\n"));
    const CommandResult found = kavoCli(home, "search 吃");
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.out, "2\t贪吃蛇\t http://s\n");
    const CommandResult missing
        = runCommand(binaryDir() + "/kavo-cli --home '" + home.path().string() + "' search 无此 2>&1");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "没有找到<无此>的相关内容!\n");
}

TEST(CliLink, BuildsLinksFromTheGbkAddress)
{
    TempDir home;
    EXPECT_EQ(kavoCli(home, "link thunder abc").out, "thunder://QUFhYmNaWg==\n");
    EXPECT_EQ(kavoCli(home, "link flashget abc").out, "Flashget://W0ZMQVNIR0VUXWFiY1tGTEFTSEdFVF0=&1926\n");
    EXPECT_EQ(kavoCli(home, "link qqdl 软件").out, "qqdl://yO28/g==\n");
    EXPECT_NE(kavoCli(home, "link ftp abc").status, 0);
}

TEST(CliConvert, DecodesAndConvertsLikeTheProgram)
{
    TempDir home;
    EXPECT_EQ(kavoCli(home, "decode '%E4%B8%AD%41'").out, "中A\n");
    EXPECT_EQ(runCommand("printf '中' | " + binaryDir() + "/kavo-cli utf8-to-gb18030").out, gbk("中"));
    EXPECT_EQ(runCommand("printf 'a\\377' | " + binaryDir() + "/kavo-cli utf8-to-gb18030").status, 1);
}

TEST(CliDownload, FailedDownloadExitsNonZeroAndSavesNothing)
{
    TempDir home;
    const CommandResult result
        = kavoCli(home, "download http://127.0.0.1:1/x '" + (home.path() / "x.bin").string() + "' -n 2");
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(std::filesystem::exists(home.path() / "x.bin"));
}

TEST(CliDownload, AConnectionCountThatIsNoWholeNumberIsAUsageError)
{
    TempDir home;
    for (const char *count : {"abc", "3x", "''", "99999999999"}) {
        SCOPED_TRACE(count);
        const CommandResult result = runCommand(binaryDir() + "/kavo-cli --home '" + home.path().string()
            + "' download http://127.0.0.1:1/x '" + (home.path() / "x.bin").string() + "' -n " + count + " 2>&1");
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.out.find("kavo-cli: -n 后面应是连接数（整数），而不是："), std::string::npos) << result.out;
    }
}

TEST(CliFeedback, RefusesShortContentWithThePagesWords)
{
    TempDir home;
    const CommandResult result = runCommand(binaryDir() + "/kavo-cli feedback 网友 太短 2>&1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "对不起、反馈内容不能小于10个文字!\n");
}

TEST(CliUsage, HelpAndVersionGoToStdoutAndAnUnknownCommandToStderr)
{
    const std::string cli = binaryDir() + "/kavo-cli";
    for (const char *flag : {"--help", "-h"}) {
        SCOPED_TRACE(flag);
        const CommandResult help = runCommand(cli + " " + flag + " 2>/dev/null");
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("usage: kavo-cli", 0), 0u);
        EXPECT_NE(help.out.find("download URL TARGET"), std::string::npos);
    }
    const CommandResult version = runCommand(cli + " --version 2>/dev/null");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "kavo-cli " KAVO_VERSION "\n");

    const struct
    {
        const char *name;
        const char *arguments;
        const char *lastLine; // what went wrong, below the usage
    } wrong[] = {{"unknown command", "nonsense", "kavo-cli: 没有这个命令：nonsense\n"},
        {"no command", "", "kavo-cli: 没有给出命令\n"},
        {"no command after --home", "--home /tmp", "kavo-cli: 没有给出命令\n"}};
    for (const auto &row : wrong) {
        SCOPED_TRACE(row.name);
        const CommandResult onStdout = runCommand(cli + " " + row.arguments + " 2>/dev/null");
        EXPECT_EQ(onStdout.status, 2);
        EXPECT_EQ(onStdout.out, "");
        const CommandResult onStderr = runCommand(cli + " " + row.arguments + " 2>&1 >/dev/null");
        EXPECT_EQ(onStderr.out.rfind("usage: kavo-cli", 0), 0u);
        EXPECT_TRUE(onStderr.out.ends_with(row.lastLine)) << onStderr.out;
    }
}

TEST(CliFeedback, ServerTimeOutExitsNonZeroWithTheReason)
{
    const MuteListener server;
    const CommandResult result = runCommand("KAVO_SMTP_HOST=127.0.0.1 KAVO_SMTP_PORT=" + std::to_string(server.port())
        + " " + binaryDir() + "/kavo-cli feedback 网友 0123456789 2>&1 >/dev/null");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "接收数据超时!\n");
}

namespace {

// The first field of every output line.
std::vector<std::string> firstFields(const std::string &out)
{
    std::vector<std::string> fields;
    for (std::size_t at = 0; at < out.size();) {
        const std::size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        fields.push_back(line.substr(0, line.find('\t')));
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return fields;
}

std::string softwareRecord(const char *name, const char *size, const char *time)
{
    return gbk("(软件名称：") + gbk(name) + gbk("-软件大小：") + gbk(size) + gbk("-分享时间：") + gbk(time)
        + gbk("-下载地址：http://h/") + gbk(name) + "-)\r\n";
}

} // namespace

TEST(CliList, SortsByNameSizeOrTimeWithUnreadableValuesLast)
{
    TempDir home;
    writeFile(home.path() / "自动更新" / "软件下载.txt",
        softwareRecord("中文", "1.5GB", "2020.5.5") + softwareRecord("波浪", "900KB", "未知")
            + softwareRecord("阿里", "大", "2024.2.29") + softwareRecord("", "12.5MB", "2012.1.1"));
    writeFile(home.path() / "自动更新" / "常用软件.txt", softwareRecord("阿波", "1MB", "2030.1.1"));
    const struct
    {
        const char *arguments;
        std::vector<std::string> first;
    } cases[] = {
        {"list 1", {"中文", "波浪", "阿里", ""}},
        {"list 1 --sort name", {"阿里", "波浪", "中文", ""}},
        {"list 1 --sort size", {"波浪", "", "中文", "阿里"}},
        {"list --sort time 软件下载", {"阿里", "中文", "", "波浪"}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.arguments);
        const CommandResult result = kavoCli(home, row.arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(firstFields(result.out), row.first);
    }
    // Hits of all categories in one order.
    EXPECT_EQ(kavoCli(home, "search 波 --sort size").out, "0\t波浪\t http://h/波浪\n0\t阿波\t http://h/阿波\n");
    EXPECT_EQ(kavoCli(home, "search 波 --sort name").out, "0\t阿波\t http://h/阿波\n0\t波浪\t http://h/波浪\n");
    EXPECT_EQ(kavoCli(home, "search 阿 --sort time").out, "0\t阿波\t http://h/阿波\n0\t阿里\t http://h/阿里\n");
    EXPECT_EQ(kavoCli(home, "search 无 --sort name").status, 1);
    for (const char *wrong :
        {"list 1 --sort colour", "list 1 --sort", "search x --new", "list 1 --sort name --sort size"})
        EXPECT_EQ(kavoCli(home, wrong).status, 2) << wrong;
}

TEST(CliList, NewListsOnlyTheRecordsTheLastRefreshBrought)
{
    TempDir home;
    const std::filesystem::path list = home.path() / "自动更新" / "软件下载.txt";
    const std::filesystem::path download = home.path() / "自动更新" / "downloaded";
    writeFile(list, softwareRecord("旧", "1MB", "2012.1.1"));
    EXPECT_EQ(kavoCli(home, "list 1 --new").out, "");
    writeFile(download,
        softwareRecord("旧", "1MB", "2012.1.1") + softwareRecord("新乙", "2MB", "2020.1.1")
            + softwareRecord("新甲", "3MB", "2024.1.1"));
    ASSERT_TRUE(update::rememberNewRecords(list, download, catalog::category(1)).has_value());
    std::filesystem::rename(download, list);
    EXPECT_EQ(firstFields(kavoCli(home, "list 1 --new").out), (std::vector<std::string>{"新乙", "新甲"}));
    EXPECT_EQ(firstFields(kavoCli(home, "list 1 --sort time --new").out), (std::vector<std::string>{"新甲", "新乙"}));
    EXPECT_EQ(kavoCli(home, "list 1").out.size(), kavoCli(home, "list 1 --sort size").out.size());
}

TEST(CliDownloads, ListsTheStoreAndNamesWhatItCouldNotRead)
{
    TempDir home;
    writeFile(home.path() / "done.zip", "done");
    const auto item = [&home](std::uint64_t id, downloads::State state, const std::string &name) {
        downloads::Item made;
        made.id = id;
        made.state = state;
        made.shareAddress = "http://127.0.0.1/share/link?shareid=1&uk=1";
        made.folder = home.path();
        made.file = home.path() / name;
        made.name = gbk(name);
        made.size = 2000;
        made.received = 500;
        return made;
    };
    std::vector<downloads::Item> items{item(1, downloads::State::Paused, "软件\t.zip"),
        item(2, downloads::State::Finished, "done.zip"), item(3, downloads::State::Finished, "gone.zip")};
    const std::string store = downloads::formatStore(items);
    writeFile(home.path() / "下载列表", store);
    const CommandResult listed = kavoCli(home, "downloads");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out,
        "paused\t软件\\t.zip\t2000\t25\t\n"
        "finished\tdone.zip\t2000\t100\t\n"
        "failed\tgone.zip\t2000\t25\t下载好的文件已不在原处（被移走或删除）\n");

    writeFile(home.path() / "下载列表", store + "noise\n");
    EXPECT_EQ(kavoCli(home, "downloads").status, 1);
    EXPECT_NE(kavoCliErrors(home, "downloads").out.find("下载列表"), std::string::npos);
    EXPECT_EQ(kavoCli(home, "downloads extra").status, 2);
}
