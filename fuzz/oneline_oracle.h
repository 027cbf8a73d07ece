#pragma once

#include <cstddef>
#include <string_view>

// Whether `line` is `text` kept on one line: the same bytes, each CR and LF a blank. Written apart from the
// program's own conversion, so that a fault there cannot hide behind itself.
inline bool isOneLineOf(std::string_view line, std::string_view text)
{
    if (line.size() != text.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool breaks = text[i] == '\r' || text[i] == '\n';
        if (line[i] != (breaks ? ' ' : text[i]))
            return false;
    }
    return true;
}
