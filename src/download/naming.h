#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Free and fitting names for downloaded files. Pure; thread-safe.
namespace download {

// The next name to try after `fileName` (a name without folder): "(1)" goes before the first "." (at the end
// without a dot); a name that already carries "(n)" there gets n + 1. "a.tar.gz" -> "a(1).tar.gz" -> "a(2).tar.gz".
std::string nextName(std::string_view fileName);

// The first of `fileName`, nextName(fileName), ... (at most 100 names: the name and 99 tries) for which
// `taken` is false; nothing when all are taken.
std::optional<std::string> firstFreeName(
    std::string_view fileName, const std::function<bool(const std::string &)> &taken);

// Where the extension of `fileName` starts: its last ".", when that is not the first byte and the extension
// has at most 16 bytes; npos otherwise. Works on UTF-8 and GBK names alike (a "." is never part of a character).
std::size_t extensionStart(std::string_view fileName);

// `fileName` (UTF-8, as the file system spells it) cut to at most `maxBytes` bytes at a character boundary,
// keeping its extension (see extensionStart).
// Empty when not even the extension and one character fit.
std::string fitName(std::string_view fileName, std::size_t maxBytes);

} // namespace download
