#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace cli {

// Where a command's output goes: UTF-8 collected in `out` and `err`, or, for large output, written to
// `outFile` as it is made.
struct Streams
{
    std::string out;
    std::string err;
    // Where large output goes as it is made; without it everything collects in `out`.
    std::FILE *outFile = nullptr;

    // Sends what `out` holds to `outFile`, when there is one.
    void flush();
    // Adds `bytes` after what `out` holds, straight to `outFile` when there is one.
    void write(std::string_view bytes);
};

} // namespace cli
