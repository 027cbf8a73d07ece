#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

// Which background a window gets, the chooser's stored values, the animated picture's path, and the reading of
// the pictures and the sound the user chose. Pure, but for the reading.
namespace appearance {

struct BackgroundChoice
{
    enum class Kind
    {
        File,
        Default,
        Preset,
        None
    } kind
        = Kind::Default;
    std::string file; // GBK path, for File
    int preset = 0; // 1 to 12, for Preset
};

// A non-empty file setting wins; else an empty number gives the default, "1" to "12" a preset, anything else
// no background at all. `fileSetting` and `numberSetting` are as read (blanks trimmed).
BackgroundChoice chooseBackground(const std::string &fileSetting, const std::string &numberSetting);

// A picture or a sound the user named, read whole on the window's thread: far beyond any picture or the music,
// far short of what would hold up the window.
inline constexpr std::size_t MaxChosenFileBytes = 64u << 20;

// The bytes of a file the user named; empty, which shows or plays nothing, when it is missing, is not a regular
// file (a FIFO would block the window, a device would never end) or is larger than MaxChosenFileBytes.
std::string readChosenFile(const std::filesystem::path &file);

// What the chooser writes for preset k: "1" ... "12", with presets 2 and 8 as " 2" and " 8".
std::string storedPresetValue(int k);

// The board's successive tops for one drop of a board `height` high: from -height it falls, accelerating,
// bounces on the line at 40 with decaying rebounds and creeps to 41; then 29 and 24. The moves are the entries
// before the last two.
std::vector<int> dropTrajectory(int height);

} // namespace appearance
