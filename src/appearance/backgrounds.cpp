#include "appearance/backgrounds.h"

#include "platform/files.h"

#include <cmath>

namespace appearance {

BackgroundChoice chooseBackground(const std::string &fileSetting, const std::string &numberSetting)
{
    if (!fileSetting.empty())
        return {BackgroundChoice::Kind::File, fileSetting, 0};
    if (numberSetting.empty())
        return {BackgroundChoice::Kind::Default, {}, 0};
    for (int k = 1; k <= 12; ++k) {
        if (numberSetting == std::to_string(k))
            return {BackgroundChoice::Kind::Preset, {}, k};
    }
    return {BackgroundChoice::Kind::None, {}, 0};
}

std::string readChosenFile(const std::filesystem::path &file)
{
    auto bytes = platform::readWhole(file, {MaxChosenFileBytes});
    return bytes.has_value() ? std::move(bytes.value()) : std::string();
}

std::string storedPresetValue(int k)
{
    return (k == 2 || k == 8 ? " " : "") + std::to_string(k);
}

std::vector<int> dropTrajectory(int height)
{
    std::vector<int> tops;
    double top = -height;
    double v = 1;
    // A guard against heights for which the bounce would never settle on 41.
    for (int guard = 0; guard < 10000; ++guard) {
        if (top > 40) {
            while (v > 0) {
                v = std::trunc(v * 0.55 - 1);
                top = std::trunc(top - v);
                tops.push_back(static_cast<int>(top));
            }
            if (top == 41)
                break;
            if (v == 0)
                v = 4;
        } else {
            v = std::trunc(v * 1.5 + 1);
            top = std::trunc(top + v);
            tops.push_back(static_cast<int>(top));
        }
    }
    tops.push_back(29);
    tops.push_back(24);
    return tops;
}

} // namespace appearance
