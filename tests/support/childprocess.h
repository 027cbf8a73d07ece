#pragma once

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

// A helper program the tests talk to (a loopback server, a proxy), started with posix_spawn and its standard
// output (and error, when merged) read through a pipe. QProcess is not used for these: it starts children with
// a vfork-style clone whose child runs Qt's code in the test's own memory, and ThreadSanitizer's bookkeeping for
// the test's main thread does not survive that, so every later lock taken there goes unseen.
class ChildProcess
{
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess() { stop(); }

    // Where the child's standard error goes: nowhere, or into the pipe with its output.
    enum class Errors
    {
        Discard,
        Merge
    };

    // Starts `program` (looked up on PATH) with `arguments`, its output read through a pipe; false when it could
    // not be started.
    bool start(const std::string &program, const std::vector<std::string> &arguments, Errors errors = Errors::Discard)
    {
        stop();
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        if (errors == Errors::Merge)
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        else
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const bool started = spawn(program, arguments, actions);
        ::close(fds[1]);
        m_out = fds[0];
        return started;
    }

    // Starts `program` with its output and errors written to `log`.
    bool startLogging(const std::string &program, const std::vector<std::string> &arguments, const std::string &log)
    {
        stop();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        return spawn(program, arguments, actions);
    }

    pid_t pid() const { return m_pid; }

    bool running()
    {
        if (m_pid <= 0)
            return false;
        if (::waitpid(m_pid, nullptr, WNOHANG) == 0)
            return true;
        m_pid = -1;
        return false;
    }

    // The next line of its output without the line end; empty when none came within `limit`.
    std::string readLine(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (const auto end = m_buffered.find('\n'); end != std::string::npos) {
                std::string line = m_buffered.substr(0, end);
                m_buffered.erase(0, end + 1);
                return line;
            }
            if (!fill(deadline))
                return {};
        }
    }

    // What it wrote and nobody read yet, waiting at most `limit` for more.
    std::string readAvailable(std::chrono::milliseconds limit = std::chrono::milliseconds(0))
    {
        fill(std::chrono::steady_clock::now() + limit);
        return std::exchange(m_buffered, {});
    }

    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        if (m_out >= 0)
            ::close(m_out);
        m_out = -1;
        m_buffered.clear();
    }

private:
    bool spawn(
        const std::string &program, const std::vector<std::string> &arguments, posix_spawn_file_actions_t &actions)
    {
        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (const std::string &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        const bool started = ::posix_spawnp(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        if (!started)
            m_pid = -1;
        return started;
    }

    // Reads what the pipe holds once it is readable before `deadline`; false at its end or the deadline.
    bool fill(std::chrono::steady_clock::time_point deadline)
    {
        if (m_out < 0)
            return false;
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wanted{m_out, POLLIN, 0};
        if (::poll(&wanted, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(m_out, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        m_buffered.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffered;
};
