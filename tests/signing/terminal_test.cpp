#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "platform/terminal.h"

namespace {

// Reads what the terminal shows until `wanted` appears or the other side closes; a read that waits over ten
// seconds means the program under test hangs.
std::string readUntil(int fd, const std::string &wanted)
{
    std::string seen;
    while (seen.find(wanted) == std::string::npos) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 10000) <= 0)
            break;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    return seen;
}

bool echoOn(int fd)
{
    termios settings{};
    return ::tcgetattr(fd, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
}

} // namespace

TEST(Terminal, ReadsALineWithEchoOffAndRestoresEcho)
{
    int answer[2];
    ASSERT_EQ(::pipe(answer), 0);
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(answer[0]);
        const auto line = platform::readHiddenLine("Password: ");
        const std::string reply = line ? "line:" + *line : "nothing";
        const bool written = ::write(answer[1], reply.data(), reply.size()) == static_cast<ssize_t>(reply.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(answer[1]);
    const std::string prompt = readUntil(master, "Password: ");
    ASSERT_NE(prompt.find("Password: "), std::string::npos) << prompt;
    EXPECT_FALSE(echoOn(master));
    const std::string typed = "s3cret 口令\n";
    ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    const std::string after = readUntil(master, "\n");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(after.find("s3cret"), std::string::npos) << "the password was echoed";
    EXPECT_TRUE(echoOn(master));
    ::close(master);

    char buffer[64] = {};
    const ssize_t n = ::read(answer[0], buffer, sizeof buffer);
    ::close(answer[0]);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0))), "line:s3cret 口令");
}

TEST(Terminal, GivesNothingWithoutATerminal)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setsid(); // a new session has no controlling terminal
        ::_exit(platform::readHiddenLine("Password: ") ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
