#include "cli/commands.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    cli::Streams streams;
    // Output leaves in large blocks of its own; a stdio buffer would only split them.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    streams.outFile = stdout;
    const int status = cli::run(arguments, streams);
    streams.flush();
    std::fwrite(streams.err.data(), 1, streams.err.size(), stderr);
    return status;
}
