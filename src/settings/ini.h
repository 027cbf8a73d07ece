#pragma once

#include <optional>
#include <string>
#include <string_view>

// The INI text of the settings file, read and edited in memory. Section and key names compare without regard
// to ASCII letter case (GBK-aware); the first matching section and the first matching key in it win, as the
// private-profile functions do. Pure functions; they accept any bytes.
namespace settings {

// The raw value (blanks around it trimmed, cut at a zero byte) or nothing when the section or key is missing.
std::optional<std::string> iniLookup(std::string_view content, std::string_view section, std::string_view key);

enum class NameKind
{
    Section,
    Key
};

// Why `name` cannot be written as a section or key name that reads back as itself, UTF-8 Chinese for messages:
// it is empty; it has leading bytes of value 32 or below or trailing blanks or tabs (readers drop them); it holds
// a CR, LF or zero byte; a section holds "]" or ends in half a double-byte character; a key holds "=" or
// starts with "[" (a line that readers take for a section). Nothing when the name is fine.
std::optional<std::string_view> nameProblem(std::string_view name, NameKind kind);

// `content` with `key` in `section` set to `value`: an existing key line is replaced in place, a new key goes
// after the section's last key, a new section goes to the end. Line breaks inside `value` become blanks so a
// value can never start a section or key of its own. Lines are ended with CR LF. Names are written as given
// (leading bytes of value 32 or below and trailing blanks dropped); check them with nameProblem() first.
std::string iniAssign(std::string_view content, std::string_view section, std::string_view key, std::string_view value);

} // namespace settings
