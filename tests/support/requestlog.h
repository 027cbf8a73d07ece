#pragma once

#include "support/tempdir.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// The request log of tests/support/scripted_server.py: one line "ROUTE FROM IF-RANGE" per request.

// The lines logged so far; the log is forgotten, so the next call gives only later requests.
inline std::vector<std::string> takeLogLines(const std::filesystem::path &log)
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(log));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::filesystem::remove(log);
    return lines;
}

// The offset of a logged request; nothing without a Range line.
inline std::optional<std::int64_t> loggedOffset(const std::string &line)
{
    std::istringstream fields(line);
    std::string route;
    std::string from;
    fields >> route >> from;
    return from == "-" ? std::nullopt : std::optional<std::int64_t>(std::stoll(from));
}
