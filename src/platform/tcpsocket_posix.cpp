#include "platform/tcpsocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Waits until `events` are ready on `fd` or `deadline` passes. Rounded up to whole milliseconds, so a wait
// that is not yet over never turns into a busy poll of zero.
TcpSocket::Outcome waitFor(int fd, short events, TcpSocket::Deadline deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return TcpSocket::Outcome::TimedOut;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return TcpSocket::Outcome::Done;
        if (ready < 0 && errno != EINTR)
            return TcpSocket::Outcome::Failed;
    }
}

bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

// The socket never blocks: every wait goes through poll() with a limit.
class PosixTcpSocket final : public TcpSocket
{
public:
    ~PosixTcpSocket() override { close(); }

    bool open() override
    {
        close();
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (m_fd < 0)
            return false;
        // No send buffering beyond the kernel's minimum: every command leaves at once.
        const int none = 0;
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &none, sizeof none);
        return true;
    }

    Outcome connect(const std::string &host, int port, Deadline deadline) override
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 && !lookUp(host, address))
            return Outcome::Failed;
        if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            return Outcome::Done;
        // An interrupted connect goes on in the background like one in progress.
        if (errno != EINPROGRESS && errno != EINTR)
            return Outcome::Failed;
        const Outcome waited = waitFor(m_fd, POLLOUT, deadline);
        if (waited != Outcome::Done)
            return waited;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
            return Outcome::Failed;
        return Outcome::Done;
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
            if (const Outcome waited = waitFor(m_fd, POLLOUT, deadline); waited != Outcome::Done)
                return waited;
        }
        return Outcome::Done;
    }

    Wait waitReadable(std::chrono::milliseconds limit) override
    {
        pollfd entry{m_fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(limit.count()));
        if (ready < 0)
            return errno == EINTR ? Wait::Timeout : Wait::Failed;
        return ready == 0 ? Wait::Timeout : Wait::Readable;
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
    static bool lookUp(const std::string &host, sockaddr_in &address)
    {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
            return false;
        address.sin_addr = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
        return true;
    }

    int m_fd = -1;
};

} // namespace

std::unique_ptr<TcpSocket> createTcpSocket()
{
    return std::make_unique<PosixTcpSocket>();
}

std::string localHostName()
{
    char name[101] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return name;
}

} // namespace platform
