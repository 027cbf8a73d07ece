#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Writes `prompt` to the controlling terminal and reads one line from it with echo off, as for a password; the
// terminal's settings are restored before returning, on every path. Gives the line without its line break, or
// nothing when the process has no terminal, the read fails, or input ends before a line break. Lines are cut at
// 1024 bytes. Blocks until the user answers; call it from a command-line thread, never from the UI thread.
std::optional<std::string> readHiddenLine(std::string_view prompt);

// Whether the process's standard error goes to a terminal (where a progress bar may redraw itself).
bool stderrIsTerminal();

} // namespace platform
