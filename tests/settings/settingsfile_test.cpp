#include "common/gbk.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "support/tempdir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

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

TEST(Settings, NextWriteClearsTemporaryFilesOfAWriterThatDied)
{
    TempDir dir;
    const Settings s(dir.path());
    const std::filesystem::path leftover = s.file().string() + ".tmp.999999.0";
    writeFile(leftover, "half a settings file");
    writeFile(dir.path() / "other.tmp.1.0", "not ours");
    ASSERT_TRUE(s.write(keys::UserName, gbk("张三")));
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "other.tmp.1.0"));
    EXPECT_EQ(s.read(keys::UserName), gbk("张三"));
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
