#include "platform/tcpsocket.h"

#include "platform/untildeadline.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

enum class Ready
{
    Yes,
    No, // the limit passed or a signal came
    Failed,
    Stopped
};

// Waits at most `limit` for `events` on `fd`, or for the stop descriptor `wake` (none when negative) to become
// readable.
Ready pollWithWake(int fd, short events, int wake, std::chrono::milliseconds limit)
{
    pollfd entries[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
    const int ready = ::poll(entries, 2, static_cast<int>(limit.count()));
    if (ready < 0)
        return errno == EINTR ? Ready::No : Ready::Failed;
    if (entries[1].revents != 0)
        return Ready::Stopped;
    return ready == 0 ? Ready::No : Ready::Yes;
}

// Waits until `events` are ready on `fd` or `deadline` passes. Rounded up to whole milliseconds, so a wait
// that is not yet over never turns into a busy poll of zero.
TcpSocket::Outcome waitFor(int fd, short events, int wake, TcpSocket::Deadline deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return TcpSocket::Outcome::TimedOut;
        const Ready ready = pollWithWake(fd, events, wake, left);
        if (ready == Ready::Yes)
            return TcpSocket::Outcome::Done;
        if (ready != Ready::No)
            return TcpSocket::Outcome::Failed;
    }
}

bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

struct Endpoint
{
    sockaddr_storage address{};
    socklen_t size = 0;
};

// The IPv4 and IPv6 addresses of `host` in the resolver's order; none when it has none or the look-up fails.
std::vector<Endpoint> lookUp(const std::string &host, int port, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return {};
    std::vector<Endpoint> endpoints;
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Endpoint endpoint;
        std::memcpy(&endpoint.address, entry->ai_addr, entry->ai_addrlen);
        endpoint.size = entry->ai_addrlen;
        endpoints.push_back(endpoint);
    }
    ::freeaddrinfo(found);
    return endpoints;
}

// A numeric address is taken as it is. A name goes to the system resolver, which takes no limit: it runs on a
// thread of its own so that a name that does not resolve quickly cannot hold the caller past `deadline`.
// Nothing when the deadline came first.
std::optional<std::vector<Endpoint>> resolve(const std::string &host, int port, TcpSocket::Deadline deadline)
{
    if (auto numeric = lookUp(host, port, AI_NUMERICHOST); !numeric.empty())
        return numeric;
    return untilDeadline([host, port] { return lookUp(host, port, 0); }, deadline);
}

// The socket never blocks: every wait goes through poll() with a limit, beside an eventfd that a stop request
// makes readable for good.
class PosixTcpSocket final : public TcpSocket
{
public:
    explicit PosixTcpSocket(std::stop_token stop)
        : m_stop(std::move(stop))
    {
        if (!m_stop.stop_possible())
            return;
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_onStop.emplace(m_stop, [wake = m_wake] {
            const std::uint64_t one = 1;
            (void)!::write(wake, &one, sizeof one);
        });
    }

    ~PosixTcpSocket() override
    {
        m_onStop.reset(); // waits for a callback under way, which writes to m_wake
        close();
        if (m_wake >= 0)
            ::close(m_wake);
    }

    bool open() override { return reopen(AF_INET); }

    Outcome connect(const std::string &host, int port, Deadline deadline) override
    {
        if (port < 1 || port > 65535 || m_stop.stop_requested())
            return Outcome::Failed;
        const auto endpoints = resolve(host, port, deadline);
        if (!endpoints)
            return Outcome::TimedOut;
        // Every address in the resolver's order: "localhost" may name ::1 first while the server listens on
        // 127.0.0.1 only.
        Outcome outcome = Outcome::Failed;
        for (const Endpoint &endpoint : *endpoints) {
            outcome = connectTo(endpoint, deadline);
            if (outcome != Outcome::Failed)
                break;
        }
        return outcome;
    }

    Outcome send(std::string_view bytes, Deadline deadline) override
    {
        while (!bytes.empty()) {
            const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || !wouldBlock())
                return Outcome::Failed;
            if (const Outcome waited = waitFor(m_fd, POLLOUT, m_wake, deadline); waited != Outcome::Done)
                return waited;
        }
        return Outcome::Done;
    }

    Wait waitReadable(std::chrono::milliseconds limit) override
    {
        if (m_stop.stop_requested())
            return Wait::Failed;
        switch (pollWithWake(m_fd, POLLIN, m_wake, limit)) {
        case Ready::Yes:
            return Wait::Readable;
        case Ready::No:
            return Wait::Timeout;
        default:
            return Wait::Failed;
        }
    }

    bool receive(std::string &out) override
    {
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0)
            return errno == EINTR || wouldBlock();
        if (n == 0)
            return false;
        out.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    void close() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    bool reopen(int family)
    {
        close();
        m_fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (m_fd < 0)
            return false;
        // No send buffering beyond the kernel's minimum: every command leaves at once.
        const int none = 0;
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &none, sizeof none);
        return true;
    }

    Outcome connectTo(const Endpoint &endpoint, Deadline deadline)
    {
        if (!reopen(endpoint.address.ss_family))
            return Outcome::Failed;
        if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&endpoint.address), endpoint.size) == 0)
            return Outcome::Done;
        // An interrupted connect goes on in the background like one in progress.
        if (errno != EINPROGRESS && errno != EINTR)
            return Outcome::Failed;
        const Outcome waited = waitFor(m_fd, POLLOUT, m_wake, deadline);
        if (waited != Outcome::Done)
            return waited;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
            return Outcome::Failed;
        return Outcome::Done;
    }

    int m_fd = -1;
    std::stop_token m_stop;
    int m_wake = -1; // readable once a stop was requested
    std::optional<std::stop_callback<std::function<void()>>> m_onStop;
};

} // namespace

std::unique_ptr<TcpSocket> createTcpSocket(std::stop_token stop)
{
    return std::make_unique<PosixTcpSocket>(std::move(stop));
}

std::string localHostName()
{
    char name[101] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return name;
}

} // namespace platform
