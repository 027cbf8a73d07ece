#include "settings/settings.h"

#include "common/gbk.h"
#include "platform/paths.h"
#include "settings/settingsfile.h"

namespace settings {

using common::gbk;

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
    return WriteSetting(file(), gbk(key.section), gbk(key.key), gbkValue);
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
