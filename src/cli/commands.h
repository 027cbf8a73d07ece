#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The commands of kavo-cli over the program's own logic. Arguments arrive as UTF-8; `out` and `err` receive
// UTF-8. Each returns the process exit status.
namespace cli {

#include <cstdio>
#include <string_view>

struct Streams
{
    std::string out;
    std::string err;
    // Where large output goes as it is made; without it everything collects in `out`.
    std::FILE *outFile = nullptr;

    // Sends what `out` holds to `outFile`, when there is one.
    void flush();
};

int run(const std::vector<std::string> &arguments, Streams &streams);

} // namespace cli
