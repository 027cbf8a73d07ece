#include "cli/commands.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    cli::Streams streams;
    const int status = cli::run(arguments, streams);
    std::fwrite(streams.out.data(), 1, streams.out.size(), stdout);
    std::fwrite(streams.err.data(), 1, streams.err.size(), stderr);
    return status;
}
