#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Where the program keeps its files.
struct ProgramPaths
{
    ProgramPaths() = default;
    // The one-folder layout of the build tree, KAVO_HOME and `--home`: everything in `directory`.
    ProgramPaths(std::filesystem::path directory) // NOLINT(google-explicit-constructor): a folder is a layout
        : settings(directory)
        , lists(directory)
        , cache(directory / "cache")
        , data(std::move(directory))
    {
    }

    std::filesystem::path settings; // holds the settings file "配置"
    std::filesystem::path lists; // holds the category lists in "自动更新"
    std::filesystem::path cache; // the last manifest page read, with its signature and validators
    std::filesystem::path data; // read-only: "windows.wav", "图片.jpg", the shipped "自动更新" and the catalog's
                                // trusted keys in "keys"

    bool operator==(const ProgramPaths &) const = default;
};

// The one place that decides the layout. KAVO_HOME, when set and not empty, is a one-folder layout. An
// installed executable (in a "bin" folder with "../share/kavo" beside it) reads its data from there and keeps
// the user's files in $XDG_CONFIG_HOME/kavo (default ~/.config/kavo) and $XDG_DATA_HOME/kavo (default
// ~/.local/share/kavo), its cache in $XDG_CACHE_HOME/kavo (default ~/.cache/kavo), "~" being HOME or, when that is
// unset, the account's home folder; relative XDG values are ignored. Any other executable uses its own folder.
// `environment` answers getenv-style (nullptr: unset). Thread-safe.
ProgramPaths resolveProgramPaths(
    const std::filesystem::path &executable, const std::function<const char *(const char *)> &environment);

// resolveProgramPaths() for this process.
ProgramPaths programPaths();

// What getting the user's folders ready came to.
struct PreparedFiles
{
    // The folders to use: as given, except that the catalog is read from the shipped lists in the data folder
    // when the user's list folder could not be made or filled.
    ProgramPaths paths;
    std::vector<std::string> problems; // why a folder or list could not be made (UTF-8), one reason each; none: ready
    bool settingsKept = true; // the settings folder exists and takes writes
    bool listsShipped = false; // paths.lists is the read-only data folder
};

// Gets the user's folders ready: creates the settings and list folders and copies every shipped category list
// that the user does not have yet. Nothing to do in a one-folder layout. Each folder is tried whatever became of
// the other; the program runs on without what could not be made.
PreparedFiles prepareUserFiles(const ProgramPaths &paths);

// The notice that tells the user why their folders could not be made and what follows from it (UTF-8); none
// when everything is ready.
std::optional<std::string> describePreparation(const PreparedFiles &prepared);

// The user's standard folders, as native paths: the system's download or pictures folder when it exists, else
// the home folder. They replace the program's Windows defaults (a save folder under "C:\"). Needs the Qt
// application for the system's names; thread-safe.
enum class UserFolder
{
    Downloads,
    Pictures
};
std::filesystem::path userFolder(UserFolder kind);

// A stored folder (GBK) the program can use: the stored text when it names an existing folder, else
// `fallback`. A Windows default such as "C:\Users\Administrator\Desktop\" names no folder here.
std::string usableFolder(std::string_view gbkStored, const std::filesystem::path &fallback);

// A GBK path or path piece as the file system spells it (UTF-8 on Linux), and back.
std::filesystem::path nativePath(std::string_view gbk);
std::string gbkPath(const std::filesystem::path &path);

} // namespace platform
