#pragma once

#include "settings/keys.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>

namespace settings {

struct SettingsError;

// The sentence that tells the user why a setting was not kept in `file` (GBK), by the error's kind. Pure.
std::string unkeptText(const SettingsError &error, const std::filesystem::path &file);

// The settings file "配置" in `directory`, read and written through the key table. `dataDirectory` holds the
// program's default pictures (the same folder unless the program is installed). Values are GBK. Thread-safe;
// every call goes to the file.
class Settings
{
public:
    // Hears that a write failed, with the sentence for the user (GBK). Called on the writing thread.
    using UnkeptReport = std::function<void(const std::string &gbkText)>;

    explicit Settings(std::filesystem::path directory, std::filesystem::path dataDirectory = {});

    // Where failed writes are reported: once when the writes start failing, and again only after one has
    // succeeded, so a value written at every key press does not report every key. Set before the first write.
    void reportUnkeptTo(UnkeptReport report) { m_unkept = std::move(report); }

    std::filesystem::path file() const;

    std::string read(const SettingKey &key) const;
    std::string read(const SettingKey &key, std::string_view gbkDefault) const;
    // A flag is yes only when it reads exactly "是".
    bool isYes(const SettingKey &key) const;

    // False when the file could not be written (read-only, say); the report has then heard why. Callers go on
    // with the value they hold.
    bool write(const SettingKey &key, std::string_view gbkValue) const;
    bool writeFlag(const SettingKey &key, bool yes) const;

    // Clears what writers that died mid-write left beside the file; once, at start.
    void clearStaleTemporaries() const;

    // "图片"/"跳动图片", defaulting to the data directory's "图片.jpg"; a native path.
    std::filesystem::path animatedPicture() const;

private:
    std::filesystem::path m_directory;
    std::filesystem::path m_dataDirectory;
    UnkeptReport m_unkept;
    mutable std::atomic<bool> m_failing{false}; // the last write failed
};

} // namespace settings
