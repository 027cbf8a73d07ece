#pragma once

#include <string>
#include <vector>

// Which background a window gets, the chooser's stored values, and the animated picture's path. Pure.
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

// What the chooser writes for preset k: "1" ... "12", with presets 2 and 8 as " 2" and " 8".
std::string storedPresetValue(int k);

// The board's successive tops for one drop of a board `height` high: from -height it falls, accelerating,
// bounces on the line at 40 with decaying rebounds and creeps to 41; then 29 and 24. The moves are the entries
// before the last two.
std::vector<int> dropTrajectory(int height);

} // namespace appearance
