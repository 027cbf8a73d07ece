#include "cli/commands.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    // A reader that goes away (the head of a pipe) must not end a download halfway: writes fail with EPIPE
    // instead, and each command decides what that means.
    std::signal(SIGPIPE, SIG_IGN);
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
