#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

// Runs a shell command; gives its standard output and exit status.
struct CommandResult
{
    std::string out;
    int status = -1;
};

inline CommandResult runCommand(const std::string &command)
{
    CommandResult result;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer{};
    while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        result.out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The folder of the program's binaries: KAVO_TEST_BIN when set, else the build's own.
inline std::string binaryDir()
{
    const char *dir = std::getenv("KAVO_TEST_BIN");
    return dir ? dir : KAVO_TEST_BIN_DIR;
}
