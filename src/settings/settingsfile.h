#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// Access to the INI settings file. Section, key and value are GBK. Every call goes to the file; nothing is
// cached. Thread-safe and safe between processes: writers take a lock on the file's folder and replace the
// file in one rename, so a reader sees the old or the new file whole, and a crash never leaves half a file.
namespace settings {

constexpr std::size_t MaxValueBytes = 10240;
// A settings file larger than this is not a settings file we wrote: reads look at this much of it and writes
// refuse to touch it rather than lose what lies beyond.
constexpr std::size_t MaxFileBytes = 4 * 1024 * 1024;

// The value of `key` in `section`, blanks around it trimmed, at most MaxValueBytes bytes; `defaultValue`
// when the file, the section or the key is missing.
std::string ReadSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view defaultValue);

// Writes `value` under `key` in `section`, creating the file, section or key as needed. Returns false when the
// file could not be written (the file is then as it was).
bool WriteSetting(
    const std::filesystem::path &file, std::string_view section, std::string_view key, std::string_view value);

} // namespace settings
