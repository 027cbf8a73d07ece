#include "common/gbk.h"
#include "platform/hotkeys.h"
#include "platform/paths.h"
#include "settings/settings.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <map>
#include <pwd.h>
#include <unistd.h>

using platform::ProgramPaths;

namespace {

// An environment of exactly these variables.
auto environmentOf(std::map<std::string, std::string> variables)
{
    return [variables = std::move(variables)](const char *name) -> const char * {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    };
}

ProgramPaths layout(std::filesystem::path settings, std::filesystem::path lists, std::filesystem::path data)
{
    ProgramPaths paths;
    paths.settings = std::move(settings);
    paths.lists = std::move(lists);
    paths.data = std::move(data);
    return paths;
}

// X11's modifier bits.
enum : unsigned
{
    ShiftMask = 1 << 0,
    LockMask = 1 << 1,
    ControlMask = 1 << 2,
    Mod1Mask = 1 << 3,
    Mod2Mask = 1 << 4,
    Mod3Mask = 1 << 5,
    Mod4Mask = 1 << 6,
    Mod5Mask = 1 << 7,
    Button1Mask = 1 << 8,
};

} // namespace

TEST(ProgramPaths, OneFolderUnlessInstalledBesideShareKavo)
{
    TempDir root;
    const auto prefix = root.path() / "usr";
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directories(prefix / "share" / "kavo");
    std::filesystem::create_directories(root.path() / "build" / "bin");
    const std::string home = (root.path() / "home").string();
    // Without HOME (a service, `env -i`), the account's home folder from the password database.
    const passwd *account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    const struct
    {
        const char *name;
        std::filesystem::path executable;
        std::map<std::string, std::string> environment;
        ProgramPaths expected;
    } cases[] = {
        {"build tree", root.path() / "build" / "bin" / "kavo", {{"HOME", home}}, root.path() / "build" / "bin"},
        {"KAVO_HOME wins", prefix / "bin" / "kavo", {{"HOME", home}, {"KAVO_HOME", "/srv/kavo"}}, {"/srv/kavo"}},
        {"empty KAVO_HOME counts as unset", root.path() / "build" / "bin" / "kavo-cli",
            {{"HOME", home}, {"KAVO_HOME", ""}}, root.path() / "build" / "bin"},
        {"installed, XDG defaults", prefix / "bin" / "kavo", {{"HOME", home}}, {}},
        {"installed, XDG set", prefix / "bin" / "kavo-cli",
            {{"HOME", home}, {"XDG_CONFIG_HOME", "/cfg"}, {"XDG_DATA_HOME", "/data"}, {"XDG_CACHE_HOME", "/cache"}},
            {}},
        {"installed, relative XDG ignored", prefix / "bin" / "kavo",
            {{"HOME", home}, {"XDG_CONFIG_HOME", "cfg"}, {"XDG_DATA_HOME", "data"}}, {}},
        {"installed, HOME unset", prefix / "bin" / "kavo", {}, {}},
        {"installed, HOME empty", prefix / "bin" / "kavo", {{"HOME", ""}}, {}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        ProgramPaths expected = row.expected;
        if (expected.data.empty()) {
            const std::string userHome = row.environment.contains("HOME") && !row.environment.at("HOME").empty()
                ? row.environment.at("HOME")
                : std::string(account->pw_dir);
            const bool xdgSet
                = row.environment.contains("XDG_CONFIG_HOME") && row.environment.at("XDG_CONFIG_HOME")[0] == '/';
            expected.settings
                = xdgSet ? std::filesystem::path("/cfg/kavo") : std::filesystem::path(userHome) / ".config/kavo";
            expected.lists
                = xdgSet ? std::filesystem::path("/data/kavo") : std::filesystem::path(userHome) / ".local/share/kavo";
            expected.cache
                = xdgSet ? std::filesystem::path("/cache/kavo") : std::filesystem::path(userHome) / ".cache/kavo";
            expected.data = (prefix / "share" / "kavo").lexically_normal();
        }
        EXPECT_EQ(platform::resolveProgramPaths(row.executable, environmentOf(row.environment)), expected);
    }
}

TEST(ProgramPaths, FirstStartCopiesTheShippedListsAndKeepsTheUsersOwn)
{
    TempDir root;
    const ProgramPaths paths = layout(root.path() / "config", root.path() / "data", root.path() / "share");
    const auto shipped = root.path() / "share" / "自动更新";
    writeFile(shipped / "软件下载.txt", "shipped 1");
    writeFile(shipped / "源码下载.txt", "shipped 2");
    writeFile(root.path() / "data" / "自动更新" / "源码下载.txt", "refreshed by the user");

    EXPECT_TRUE(platform::prepareUserFiles(paths).problems.empty());
    EXPECT_TRUE(std::filesystem::is_directory(root.path() / "config"));
    EXPECT_EQ(readFile(root.path() / "data" / "自动更新" / "软件下载.txt"), "shipped 1");
    EXPECT_EQ(readFile(root.path() / "data" / "自动更新" / "源码下载.txt"), "refreshed by the user");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path() / "data" / "自动更新"), {}), 2)
        << "no copy is left under a temporary name";

    // A list folder that cannot be made is reported with its path.
    writeFile(root.path() / "blocked", "a file, not a folder");
    const ProgramPaths blocked = layout(root.path() / "config", root.path() / "blocked", root.path() / "share");
    const std::vector<std::string> problems = platform::prepareUserFiles(blocked).problems;
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("blocked"), std::string::npos);
    // The one-folder layout is the user's already.
    EXPECT_TRUE(platform::prepareUserFiles(ProgramPaths(root.path() / "blocked")).problems.empty());
}

// A file where a folder should be stops that folder only: the other is still made, and a catalog that cannot
// be copied is read where it was shipped.
TEST(ProgramPaths, AFolderThatCannotBeMadeLeavesTheOtherAndTheShippedCatalog)
{
    TempDir root;
    const auto share = root.path() / "share";
    writeFile(share / "自动更新" / "软件下载.txt", "shipped");
    writeFile(root.path() / "file", "not a folder");
    const struct
    {
        const char *name;
        ProgramPaths paths;
        bool settingsKept;
        bool listsShipped;
        const char *notice;
    } cases[] = {
        {"settings", layout(root.path() / "file" / "kavo", root.path() / "data", share), false, false,
            "设置不会被保存。"},
        {"lists", layout(root.path() / "config", root.path() / "file" / "kavo", share), true, true,
            "目录使用程序自带的列表"},
        {"both", layout(root.path() / "file" / "a", root.path() / "file" / "b", share), false, true,
            "设置不会被保存。目录使用程序自带的列表"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        const platform::PreparedFiles prepared = platform::prepareUserFiles(row.paths);
        EXPECT_EQ(prepared.settingsKept, row.settingsKept);
        EXPECT_EQ(prepared.listsShipped, row.listsShipped);
        ASSERT_FALSE(prepared.problems.empty());
        EXPECT_NE(prepared.problems[0].find((root.path() / "file").string()), std::string::npos);
        EXPECT_EQ(readFile(prepared.paths.lists / "自动更新" / "软件下载.txt"), "shipped");
        const std::string notice = platform::describePreparation(prepared).value_or("");
        EXPECT_EQ(notice.rfind("无法建立用户文件夹：", 0), 0u) << notice;
        EXPECT_NE(notice.find(row.notice), std::string::npos) << notice;
    }
    EXPECT_FALSE(
        platform::describePreparation(platform::prepareUserFiles(layout(root.path() / "c", root.path() / "d", share))));
}

TEST(ProgramPaths, TheDefaultPictureComesFromTheDataFolder)
{
    TempDir root;
    const settings::Settings installed(root.path() / "config", root.path() / "share");
    EXPECT_EQ(installed.file(), root.path() / "config" / "配置");
    EXPECT_EQ(installed.animatedPicture(), root.path() / "share" / "图片.jpg");
}

TEST(ProgramPaths, UsableFolderReplacesWindowsDefaultsAndMissingFolders)
{
    TempDir root;
    const std::filesystem::path fallback = "/fallback";
    EXPECT_EQ(platform::usableFolder(common::gbk("C:\\Users\\Administrator\\Desktop\\"), fallback), "/fallback");
    EXPECT_EQ(platform::usableFolder("", fallback), "/fallback");
    EXPECT_EQ(platform::usableFolder((root.path() / "gone").string(), fallback), "/fallback");
    EXPECT_EQ(platform::usableFolder(root.path().string(), fallback), root.path().string());
    const auto chinese = root.path() / "下载";
    std::filesystem::create_directories(chinese);
    EXPECT_EQ(platform::usableFolder(platform::gbkPath(chinese), fallback), platform::gbkPath(chinese));
}

TEST(HotKeys, OnlyLockKeysMayBeHeld)
{
    const struct
    {
        const char *name;
        unsigned state;
        bool plain;
    } cases[] = {
        {"nothing", 0, true},
        {"Caps Lock", LockMask, true},
        {"Num Lock", Mod2Mask, true},
        {"both locks", LockMask | Mod2Mask, true},
        {"a mouse button", Button1Mask, true},
        {"Shift", ShiftMask, false},
        {"Ctrl", ControlMask, false},
        {"Alt", Mod1Mask, false},
        {"Super", Mod4Mask, false},
        {"AltGr", Mod5Mask, false},
        {"Shift with Num Lock", ShiftMask | Mod2Mask, false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(platform::isUnmodifiedKeyState(row.state, Mod2Mask), row.plain);
    }
    // Where Num Lock sits on another modifier, Mod2 is a modifier like any other.
    EXPECT_TRUE(platform::isUnmodifiedKeyState(Mod3Mask, Mod3Mask));
    EXPECT_FALSE(platform::isUnmodifiedKeyState(Mod2Mask, Mod3Mask));
}
