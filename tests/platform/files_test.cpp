#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using platform::FileError;

namespace {

std::vector<std::string> namesIn(const std::filesystem::path &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

platform::ReplaceOptions noReplace()
{
    platform::ReplaceOptions options;
    options.noReplace = true;
    return options;
}

} // namespace

TEST(Files, ReadWholeSaysWhyItRefuses)
{
    const TempDir dir;
    writeFile(dir.path() / "file", "0123456789");
    std::filesystem::create_directory(dir.path() / "folder");
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("file", dir.path() / "link");
    struct Row
    {
        const char *name;
        std::filesystem::path file;
        platform::ReadLimit limit;
        platform::Links links;
        FileError::Kind kind;
        std::string reason;
    };
    const Row rows[] = {
        {"missing", dir.path() / "none", {64}, platform::Links::Follow, FileError::Kind::Missing, "不存在"},
        {"folder", dir.path() / "folder", {64}, platform::Links::Follow, FileError::Kind::NotAFile, "是一个文件夹"},
        {"fifo, never waited on", dir.path() / "fifo", {64}, platform::Links::Follow, FileError::Kind::NotAFile,
            "不是普通文件"},
        {"over the limit", dir.path() / "file", {9}, platform::Links::Follow, FileError::Kind::TooLarge, "文件太大"},
        {"a link where none is followed", dir.path() / "link", {64}, platform::Links::Refuse, FileError::Kind::NotAFile,
            "是符号链接"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const auto read = platform::readWhole(row.file, row.limit, row.links);
        ASSERT_FALSE(read.has_value());
        EXPECT_EQ(read.error().kind, row.kind);
        EXPECT_EQ(read.error().describe(), row.reason);
    }
    EXPECT_EQ(platform::readWhole(dir.path() / "file", {4, true}).value(), "0123");
    EXPECT_EQ(platform::readWhole(dir.path() / "link", {10}).value(), "0123456789");
}

TEST(Files, ReplaceWithoutReplacingKeepsTheFileThereAndLeavesNoTemporary)
{
    const TempDir dir;
    writeFile(dir.path() / "file", "old");
    const auto replaced = platform::replaceFile(dir.path() / "file", "new", noReplace());
    ASSERT_FALSE(replaced.has_value());
    EXPECT_EQ(replaced.error().kind, FileError::Kind::Exists);
    EXPECT_EQ(readFile(dir.path() / "file"), "old");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"file"});

    ASSERT_TRUE(platform::replaceFile(dir.path() / "fresh", "new", noReplace()).has_value());
    EXPECT_EQ(readFile(dir.path() / "fresh"), "new");
}

TEST(Files, ReplaceKeepsALinkAndTheModeWhenAsked)
{
    const TempDir dir;
    std::filesystem::create_directory(dir.path() / "real");
    writeFile(dir.path() / "real" / "settings", "old");
    ::chmod((dir.path() / "real" / "settings").c_str(), 0600);
    std::filesystem::create_symlink("real/settings", dir.path() / "settings");

    platform::ReplaceOptions keep;
    keep.keepMode = true;
    keep.keepLink = true;
    ASSERT_TRUE(platform::replaceFile(dir.path() / "settings", "new", keep).has_value());
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "settings"));
    EXPECT_EQ(readFile(dir.path() / "real" / "settings"), "new");
    struct stat status = {};
    ASSERT_EQ(::stat((dir.path() / "real" / "settings").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    ASSERT_TRUE(platform::replaceFile(dir.path() / "settings", "plain", {}).has_value());
    EXPECT_FALSE(std::filesystem::is_symlink(dir.path() / "settings"));
    EXPECT_EQ(readFile(dir.path() / "real" / "settings"), "new");
}

TEST(Files, ReplaceThroughATakenTemporaryLeavesBothAlone)
{
    const TempDir dir;
    writeFile(dir.path() / "record", "old");
    writeFile(dir.path() / "record.new", "someone else's");
    platform::ReplaceOptions through;
    through.temporary = dir.path() / "record.new";
    const auto replaced = platform::replaceFile(dir.path() / "record", "new", through);
    ASSERT_FALSE(replaced.has_value());
    EXPECT_EQ(replaced.error().kind, FileError::Kind::Exists);
    EXPECT_EQ(readFile(dir.path() / "record"), "old");
    EXPECT_EQ(readFile(dir.path() / "record.new"), "someone else's");
}

TEST(Files, ALockHeldElsewhereIsBusyUntilReleased)
{
    const TempDir dir;
    {
        const auto first = platform::FileLock::acquire(dir.path(), platform::LockWait::No);
        ASSERT_TRUE(first.has_value());
        const auto second = platform::FileLock::acquire(dir.path(), platform::LockWait::No);
        ASSERT_FALSE(second.has_value());
        EXPECT_EQ(second.error().kind, FileError::Kind::Busy);
    }
    EXPECT_TRUE(platform::FileLock::acquire(dir.path(), platform::LockWait::No).has_value());
    const auto missing = platform::FileLock::acquire(dir.path() / "none", platform::LockWait::No);
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().kind, FileError::Kind::Missing);
}

TEST(Files, RenameWithoutOverwriteRefusesATakenName)
{
    const TempDir dir;
    writeFile(dir.path() / "a", "a");
    writeFile(dir.path() / "b", "b");
    const auto renamed = platform::renameFile(dir.path() / "a", dir.path() / "b", platform::Overwrite::No);
    ASSERT_FALSE(renamed.has_value());
    EXPECT_EQ(renamed.error().kind, FileError::Kind::Exists);
    EXPECT_EQ(readFile(dir.path() / "a"), "a");
    EXPECT_EQ(readFile(dir.path() / "b"), "b");
}

TEST(Files, FoldersAreMadeAlongThePathAndOnlyEmptyOnesRemoved)
{
    const TempDir dir;
    const std::filesystem::path deep = dir.path() / "a" / "b" / "c";
    ASSERT_TRUE(platform::makeFolders(deep).has_value());
    EXPECT_TRUE(platform::makeFolders(deep).has_value()) << "a folder that is there is no failure";
    EXPECT_EQ(platform::makeFolder(deep).error().kind, FileError::Kind::Exists);
    writeFile(dir.path() / "file", "x");
    EXPECT_FALSE(platform::makeFolders(dir.path() / "file" / "sub").has_value());
    EXPECT_EQ(platform::makeFolder(dir.path() / "none" / "sub").error().kind, FileError::Kind::Missing);

    EXPECT_EQ(platform::removeEmptyFolder(dir.path() / "a" / "b").error().code, ENOTEMPTY);
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    EXPECT_TRUE(platform::removeEmptyFolder(deep).has_value());
    EXPECT_FALSE(std::filesystem::exists(deep));
    EXPECT_FALSE(platform::removeEmptyFolder(dir.path() / "file").has_value());
    EXPECT_EQ(readFile(dir.path() / "file"), "x");
}
