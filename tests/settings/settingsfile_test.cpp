#include "common/gbk.h"
#include "platform/paths.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "support/tempdir.h"
#include "support/waituntil.h"

#include <csignal>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace settings;
using common::gbk;

TEST(Settings, FirstStartReadsEveryDefault)
{
    TempDir dir;
    const Settings s(dir.path());
    EXPECT_EQ(s.read(keys::UserName), gbk("网友"));
    EXPECT_EQ(s.read(keys::SearchText), gbk("请输入要查找的名称"));
    EXPECT_EQ(s.read(keys::SaveFolder), "C:\\Users\\Administrator\\Desktop\\");
    EXPECT_EQ(s.read(keys::SoftwareVersion), "1.0");
    EXPECT_EQ(s.read(keys::BackgroundNumber), "");
    EXPECT_FALSE(s.isYes(keys::PlayMusic));
    EXPECT_EQ(s.animatedPicture(), dir.path() / "图片.jpg");
    EXPECT_FALSE(std::filesystem::exists(s.file()));
}

TEST(Settings, ValuesReadTrimmedAndFlagsAreExactlyYes)
{
    TempDir dir;
    const Settings s(dir.path());
    writeFile(s.file(),
        "[" + gbk("背景") + "]\r\n" + gbk("名称") + "= 2\r\n[" + gbk("音乐") + "]\r\n" + gbk("是否播放") + "="
            + gbk("是") + " \r\n");
    EXPECT_EQ(s.read(keys::BackgroundNumber), "2");
    EXPECT_TRUE(s.isYes(keys::PlayMusic));
    ASSERT_TRUE(s.write(keys::PlayMusic, "yes"));
    EXPECT_FALSE(s.isYes(keys::PlayMusic));
    EXPECT_EQ(s.read(keys::BackgroundNumber), "2");
}

TEST(Settings, WriteCreatesTheFileAndLeavesNoTemporaryBehind)
{
    TempDir dir;
    const Settings s(dir.path());
    ASSERT_TRUE(s.write(keys::UserName, gbk("张三")));
    EXPECT_EQ(s.read(keys::UserName), gbk("张三"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Settings, TemporaryFilesOfAWriterThatDiedAreClearedAtStartNotByEveryWrite)
{
    TempDir dir;
    const Settings s(dir.path());
    const std::filesystem::path leftover = s.file().string() + ".tmp.999999.0";
    writeFile(leftover, "half a settings file");
    const std::vector<std::filesystem::path> others{dir.path() / "other.tmp.1.0", s.file().string() + ".tmp.bak",
        s.file().string() + ".tmp.1.0.old", s.file().string() + ".tmp..0"};
    for (const auto &other : others)
        writeFile(other, "not ours");
    ASSERT_TRUE(s.write(keys::UserName, gbk("张三")));
    EXPECT_TRUE(std::filesystem::exists(leftover));
    s.clearStaleTemporaries();
    EXPECT_FALSE(std::filesystem::exists(leftover));
    for (const auto &other : others)
        EXPECT_TRUE(std::filesystem::exists(other)) << other;
    EXPECT_EQ(s.read(keys::UserName), gbk("张三"));
}

// A value written at every key press must not report every key: the user hears once that the settings stopped
// being kept, and again only when they stop once more after a success.
TEST(Settings, FailedWritesAreReportedOnceUntilOneSucceeds)
{
    TempDir dir;
    settings::Settings settings(dir.path());
    std::vector<std::string> reports;
    settings.reportUnkeptTo([&reports](const std::string &text) { reports.push_back(text); });
    const auto readOnly = std::filesystem::perms::owner_read;
    const auto writable = readOnly | std::filesystem::perms::owner_write;
    EXPECT_TRUE(settings.write(settings::keys::UserName, "a"));
    std::filesystem::permissions(settings.file(), readOnly);
    EXPECT_FALSE(settings.write(settings::keys::UserName, "ab"));
    EXPECT_FALSE(settings.writeFlag(settings::keys::PlayMusic, true));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], gbk("设置没有保存：配置文件是只读的（") + platform::gbkPath(settings.file()) + gbk("）"));
    std::filesystem::permissions(settings.file(), writable);
    EXPECT_TRUE(settings.write(settings::keys::UserName, "abc"));
    std::filesystem::permissions(settings.file(), readOnly);
    EXPECT_FALSE(settings.write(settings::keys::UserName, "abcd"));
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(settings.read(settings::keys::UserName), "abc");
}

TEST(SettingsFile, ValueIsCutAt10240BytesOnACharacterBoundary)
{
    TempDir dir;
    const auto file = dir.path() / "cfg";
    const std::string value = std::string(10239, 'a') + gbk("中") + "tail";
    ASSERT_TRUE(WriteSetting(file, "s", "k", value));
    EXPECT_EQ(ReadSetting(file, "s", "k", ""), std::string(10239, 'a'));
    ASSERT_TRUE(WriteSetting(file, "s", "k", std::string(20000, 'b')));
    EXPECT_EQ(ReadSetting(file, "s", "k", "").size(), MaxValueBytes);
}

TEST(SettingsFile, FailedWriteLeavesTheFileAsItWas)
{
    // A file-size limit makes the write fail halfway, for root as for anybody; the limit is the child's.
    TempDir dir;
    const auto file = dir.path() / "cfg";
    ASSERT_TRUE(WriteSetting(file, "s", "k", "old"));
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16, 16};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(WriteSetting(file, "s", "k", std::string(100, 'n')) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write should have failed";
    EXPECT_EQ(ReadSetting(file, "s", "k", ""), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(SettingsFile, OversizedFileIsReadButNeverRewritten)
{
    TempDir dir;
    const auto file = dir.path() / "cfg";
    const std::string big = "[s]\r\nk=v\r\n" + std::string(MaxFileBytes, 'x');
    writeFile(file, big);
    EXPECT_EQ(ReadSetting(file, "s", "k", ""), "v");
    EXPECT_FALSE(WriteSetting(file, "s", "k", "w"));
    EXPECT_EQ(std::filesystem::file_size(file), big.size());
}

TEST(SettingsFile, ConcurrentWritersFromThreadsLoseNothing)
{
    TempDir dir;
    const auto file = dir.path() / "cfg";
    constexpr int Threads = 6;
    constexpr int KeysEach = 25;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&file, t] {
            for (int k = 0; k < KeysEach; ++k)
                WriteSetting(file, "s" + std::to_string(t % 2), "k" + std::to_string(t) + "_" + std::to_string(k), "v");
        });
    }
    for (auto &w : writers)
        w.join();
    for (int t = 0; t < Threads; ++t) {
        for (int k = 0; k < KeysEach; ++k)
            EXPECT_EQ(
                ReadSetting(file, "s" + std::to_string(t % 2), "k" + std::to_string(t) + "_" + std::to_string(k), ""),
                "v");
    }
}

TEST(SettingsFile, ConcurrentWritersFromTwoProcessesLoseNothing)
{
    TempDir dir;
    const auto file = dir.path() / "cfg";
    constexpr int KeysEach = 40;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    const std::string who = child == 0 ? "child" : "parent";
    for (int k = 0; k < KeysEach; ++k)
        WriteSetting(file, "s", who + std::to_string(k), std::to_string(k));
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    for (int k = 0; k < KeysEach; ++k) {
        EXPECT_EQ(ReadSetting(file, "s", "child" + std::to_string(k), ""), std::to_string(k));
        EXPECT_EQ(ReadSetting(file, "s", "parent" + std::to_string(k), ""), std::to_string(k));
    }
}

namespace {

std::size_t entriesIn(const std::filesystem::path &folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

} // namespace

TEST(SettingsFile, NamesThatWouldNotReadBackAreRefusedBeforeTheFileIsTouched)
{
    TempDir dir;
    const auto file = dir.path() / "cfg";
    const auto refused = saveSetting(file, gbk("记录"), "k\r\n[" + gbk("更新") + "]\r\n" + gbk("软件下载"), "9.9");
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind, SettingsError::Kind::BadName);
    EXPECT_FALSE(saveSetting(file, "a]b", "k", "v").has_value());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(ReadSetting(file, gbk("更新"), gbk("软件下载"), "1.0"), "1.0");
}

TEST(SettingsFile, ReadOnlyFileIsLeftAsItIs)
{
    TempDir dir;
    const auto file = dir.path() / "cfg";
    ASSERT_TRUE(WriteSetting(file, "s", "k", "old"));
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    const auto written = saveSetting(file, "s", "k", "new");
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error().kind, SettingsError::Kind::ReadOnly);
    EXPECT_EQ(ReadSetting(file, "s", "k", ""), "old");
    EXPECT_EQ(std::filesystem::status(file).permissions(),
        std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(SettingsFile, ReplacedFileKeepsItsMode)
{
    TempDir dir;
    const auto file = dir.path() / "cfg";
    ASSERT_TRUE(WriteSetting(file, "s", "k", "old"));
    const auto privateMode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    std::filesystem::permissions(file, privateMode);
    ASSERT_TRUE(WriteSetting(file, "s", "k", "new"));
    EXPECT_EQ(std::filesystem::status(file).permissions(), privateMode);
}

TEST(SettingsFile, SymbolicLinkIsFollowedAndStaysALink)
{
    const struct
    {
        const char *name;
        bool absolute;
        bool targetExists;
    } cases[] = {{"relative link", false, true}, {"absolute link", true, true}, {"dangling link", false, false}};
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const auto home = dir.path() / "home";
        const auto target = dir.path() / "store" / "real-cfg";
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(target.parent_path());
        if (row.targetExists)
            writeFile(target, "[keep]\r\nk=kept\r\n");
        const auto link = home / "cfg";
        std::filesystem::create_symlink(row.absolute ? target : std::filesystem::path("../store/real-cfg"), link);
        ASSERT_TRUE(saveSetting(link, "s", "k", "v").has_value());
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(ReadSetting(target, "s", "k", ""), "v");
        EXPECT_EQ(ReadSetting(link, "keep", "k", ""), row.targetExists ? "kept" : "");
        EXPECT_EQ(entriesIn(home), 1u);
        EXPECT_EQ(entriesIn(target.parent_path()), 1u);
    }
}

TEST(SettingsFile, LinkLoopFailsWithAReason)
{
    TempDir dir;
    std::filesystem::create_symlink("b", dir.path() / "a");
    std::filesystem::create_symlink("a", dir.path() / "b");
    const auto written = saveSetting(dir.path() / "a", "s", "k", "v");
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error().kind, SettingsError::Kind::Io);
    EXPECT_NE(written.error().detail.find(platform::gbkPath(dir.path() / "a")), std::string::npos);
}

TEST(SettingsFile, SettingsThatAreNoRegularFileAreNeverWaitedOn)
{
    const struct
    {
        const char *name;
        void (*make)(const std::filesystem::path &);
    } cases[] = {
        {"fifo", [](const std::filesystem::path &at) { ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0); }},
        {"folder", [](const std::filesystem::path &at) { std::filesystem::create_directory(at); }},
        {"device", [](const std::filesystem::path &at) { std::filesystem::create_symlink("/dev/zero", at); }},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const auto file = dir.path() / "cfg";
        row.make(file);
        auto work = std::async(std::launch::async,
            [&file] { return std::pair(ReadSetting(file, "s", "k", "default"), saveSetting(file, "s", "k", "v")); });
        // A reader stuck on the FIFO is let go by a writer that comes and goes.
        const bool ended = work.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        EXPECT_TRUE(ended) << "the settings were still waited on after 10 s";
        const HangGuard guard("a settings call on a FIFO that writers come to");
        while (work.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
            if (const int writer = ::open(file.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); writer >= 0)
                ::close(writer);
        }
        const auto [read, written] = work.get();
        EXPECT_EQ(read, "default");
        ASSERT_FALSE(written.has_value());
        EXPECT_EQ(written.error().kind, SettingsError::Kind::NotAFile) << written.error().detail;
        EXPECT_FALSE(std::filesystem::is_regular_file(file));
        EXPECT_EQ(entriesIn(dir.path()), 1u);
    }
}
