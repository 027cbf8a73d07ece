#include "settings/settings.h"

#include "common/gbk.h"
#include "platform/paths.h"
#include "settings/settingsfile.h"

namespace settings {

using common::gbk;

std::string unkeptText(const SettingsError &error, const std::filesystem::path &file)
{
    using Kind = SettingsError::Kind;
    const char *why = error.kind == Kind::ReadOnly ? "配置文件是只读的"
        : error.kind == Kind::TooLarge             ? "配置文件太大，不是本程序写的"
        : error.kind == Kind::BadName              ? "设置的名称无法写入配置文件"
                                                   : "配置文件无法写入";
    return gbk("设置没有保存：") + gbk(why) + gbk("（") + platform::gbkPath(file) + gbk("）");
}

Settings::Settings(std::filesystem::path directory, std::filesystem::path dataDirectory)
    : m_directory(std::move(directory))
    , m_dataDirectory(dataDirectory.empty() ? m_directory : std::move(dataDirectory))
{
}

std::filesystem::path Settings::file() const
{
    return m_directory / platform::nativePath(gbk("配置"));
}

std::string Settings::read(const SettingKey &key) const
{
    return read(key, gbk(key.defaultValue));
}

std::string Settings::read(const SettingKey &key, std::string_view gbkDefault) const
{
    return ReadSetting(file(), gbk(key.section), gbk(key.key), gbkDefault);
}

bool Settings::isYes(const SettingKey &key) const
{
    return read(key) == gbk(Yes);
}

bool Settings::write(const SettingKey &key, std::string_view gbkValue) const
{
    const auto written = saveSetting(file(), gbk(key.section), gbk(key.key), gbkValue);
    if (written.has_value()) {
        m_failing = false;
        return true;
    }
    if (!m_failing.exchange(true) && m_unkept)
        m_unkept(unkeptText(written.error(), file()));
    return false;
}

bool Settings::writeFlag(const SettingKey &key, bool yes) const
{
    return write(key, gbk(yes ? Yes : No));
}

void Settings::clearStaleTemporaries() const
{
    settings::clearStaleTemporaries(file());
}

std::filesystem::path Settings::animatedPicture() const
{
    const std::filesystem::path fallback = m_dataDirectory / platform::nativePath(gbk("图片.jpg"));
    return platform::nativePath(read(keys::AnimatedPicture, platform::gbkPath(fallback)));
}

} // namespace settings
