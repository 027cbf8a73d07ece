#pragma once

#include "common/result.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// Access to the INI settings file. Section, key and value are GBK. Every call goes to the file; nothing is
// cached. Thread-safe and safe between processes: writers take a lock on the file's folder and replace the
// file in one rename, so a reader sees the old or the new file whole, and a crash never leaves half a file.
// A settings file that is a symbolic link stays one: the file it points to is replaced, beside itself.
namespace settings {

constexpr std::size_t MaxValueBytes = 10240;
// A settings file larger than this is not a settings file we wrote: reads look at this much of it and writes
// refuse to touch it rather than lose what lies beyond.
constexpr std::size_t MaxFileBytes = 4 * 1024 * 1024;

struct SettingsError
{
    enum class Kind
    {
        BadName, // a section or key name that would not read back (ini.h: nameProblem)
        ReadOnly, // the file exists and may not be written
        TooLarge, // the file is larger than MaxFileBytes
        NotAFile, // the settings file is a folder, a FIFO or a device
        Io // the file or its folder could not be read, locked or written
    };
    Kind kind = Kind::Io;
    std::string detail; // GBK, plain Chinese naming the file, for messages; never parsed
};

// The value of `key` in `section`, blanks around it trimmed, at most MaxValueBytes bytes; `defaultValue`
// when the file, the section or the key is missing, or the file cannot be read or is no regular file (a folder,
// a FIFO, a device: never waited on).
std::string ReadSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view defaultValue);

// Writes `value` under `key` in `section`, creating the file, section or key as needed; line breaks in the
// value become blanks. A settings file that is no regular file is refused. On failure the file is as it was. A
// new file gets mode 0644 less the umask; a replaced one keeps its mode.
common::Result<void, SettingsError> saveSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view value);

// saveSetting() for callers that need only whether it worked.
bool WriteSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view value);

// Removes the temporary files that writers of `file` left when they died mid-write. Meant for start-up; safe
// while other writers run, as it holds the writers' lock.
void clearStaleTemporaries(const std::filesystem::path &file);

} // namespace settings
