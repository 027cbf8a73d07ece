#pragma once

#include "settings/keys.h"

#include <filesystem>
#include <string>

namespace settings {

// The settings file "配置" in `directory`, read and written through the key table. `dataDirectory` holds the
// program's default pictures (the same folder unless the program is installed). Values are GBK. Thread-safe;
// every call goes to the file.
class Settings
{
public:
    explicit Settings(std::filesystem::path directory, std::filesystem::path dataDirectory = {});

    std::filesystem::path file() const;

    std::string read(const SettingKey &key) const;
    std::string read(const SettingKey &key, std::string_view gbkDefault) const;
    // A flag is yes only when it reads exactly "是".
    bool isYes(const SettingKey &key) const;

    // False when the file could not be written (read-only, say); callers go on with the value they hold.
    bool write(const SettingKey &key, std::string_view gbkValue) const;
    bool writeFlag(const SettingKey &key, bool yes) const;

    // Clears what writers that died mid-write left beside the file; once, at start.
    void clearStaleTemporaries() const;

    // "图片"/"跳动图片", defaulting to the data directory's "图片.jpg"; a native path.
    std::filesystem::path animatedPicture() const;

private:
    std::filesystem::path m_directory;
    std::filesystem::path m_dataDirectory;
};

} // namespace settings
