#include "platform/terminal.h"

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <sodium.h>

namespace platform {

namespace {

constexpr std::size_t MaxLineBytes = 1024;

class TerminalFile
{
public:
    TerminalFile()
        : m_fd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
    }
    ~TerminalFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TerminalFile(const TerminalFile &) = delete;
    TerminalFile &operator=(const TerminalFile &) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd;
};

// Turns echo off for its lifetime and puts the saved settings back when it ends.
class EchoOff
{
public:
    explicit EchoOff(int fd)
        : m_fd(fd)
    {
        if (::tcgetattr(fd, &m_saved) != 0)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        quiet.c_lflag |= ICANON;
        m_active = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (m_active)
            ::tcsetattr(m_fd, TCSAFLUSH, &m_saved);
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

    bool active() const { return m_active; }

private:
    int m_fd;
    termios m_saved{};
    bool m_active = false;
};

void writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Reads up to a line break; false when input ends first or the read fails.
bool readLine(int fd, std::string &line)
{
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        if (c != '\r' && line.size() < MaxLineBytes)
            line += c;
    }
}

} // namespace

std::optional<std::string> readHiddenLine(std::string_view prompt)
{
    const TerminalFile terminal;
    if (terminal.fd() < 0 || !::isatty(terminal.fd()))
        return std::nullopt;
    std::string line;
    line.reserve(MaxLineBytes);
    bool complete = false;
    {
        // Echo goes off before the prompt appears: switching flushes pending input, which must not be the answer.
        const EchoOff echoOff(terminal.fd());
        writeAll(terminal.fd(), prompt);
        if (echoOff.active())
            complete = readLine(terminal.fd(), line);
    }
    // The user's Enter was not echoed; move on to the next line ourselves.
    writeAll(terminal.fd(), "\n");
    if (!complete) {
        sodium_memzero(line.data(), line.size());
        return std::nullopt;
    }
    return line;
}

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace platform
