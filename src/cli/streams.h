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
    // The system's error number of the first write to `outFile` that failed (a full disk, a reader that has gone
    // away); 0 while every byte went out. Nothing is written after a failure.
    int writeError = 0;

    // Sends what `out` holds to `outFile`, when there is one.
    void flush();
    // Adds `bytes` after what `out` holds, straight to `outFile` when there is one.
    void write(std::string_view bytes);
};

} // namespace cli
