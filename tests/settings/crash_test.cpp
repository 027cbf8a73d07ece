// Kills a writer with SIGKILL at random moments and checks that what it was replacing is always whole:
// the settings file always parses with every key written before, and a category list is the old or the new
// one, never a mix or a stump.
#include "common/gbk.h"
#include "settings/settingsfile.h"
#include "support/tempdir.h"
#include "update/listfile.h"

#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Runs `work` in a child process and kills it after `delay`.
template <typename Work> void killDuring(Work work, std::chrono::microseconds delay)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        work();
        ::_exit(0);
    }
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
}

} // namespace

TEST(CrashSafety, SettingsSurviveAKilledWriter)
{
    TempDir dir;
    const auto file = dir.path() / "cfg";
    ASSERT_TRUE(settings::WriteSetting(file, "keep", "k", "kept"));
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        killDuring(
            [&file, round] {
                for (int i = 0;; ++i)
                    settings::WriteSetting(
                        file, "s" + std::to_string(i % 5), "k" + std::to_string(round), std::string(500, 'v'));
            },
            std::chrono::microseconds(random() % 20000));
        EXPECT_EQ(settings::ReadSetting(file, "keep", "k", ""), "kept") << round;
        const std::string content = readFile(file);
        ASSERT_FALSE(content.empty());
        EXPECT_EQ(content.find("[keep]\r\nk=kept\r\n"), 0u) << round;
    }
}

TEST(CrashSafety, ListReplacementLeavesTheOldOrTheNewListWhole)
{
    TempDir dir;
    const auto list = dir.path() / "list.txt";
    const std::string oldList(200000, 'o');
    const std::string newList(300000, 'n');
    writeFile(list, oldList);
    std::mt19937 random(11);
    for (int round = 0; round < 30; ++round) {
        killDuring(
            [&] {
                for (;;) {
                    writeFile(update::pendingListPath(list), newList);
                    static_cast<void>(update::replaceList(update::pendingListPath(list), list));
                    writeFile(update::pendingListPath(list), oldList);
                    static_cast<void>(update::replaceList(update::pendingListPath(list), list));
                }
            },
            std::chrono::microseconds(random() % 30000));
        const std::string now = readFile(list);
        EXPECT_TRUE(now == oldList || now == newList) << round << ": " << now.size() << " bytes";
    }
}
