#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A loopback listener that never accepts: a connection completes in its queue and then hears nothing. Once
// `backlog` + 1 connections wait there, a further one stays half-open.
class MuteListener
{
public:
    explicit MuteListener(int backlog = 8)
        : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), size);
        ::listen(m_fd, backlog);
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &size);
        m_port = ntohs(address.sin_port);
    }
    ~MuteListener() { ::close(m_fd); }
    MuteListener(const MuteListener &) = delete;
    MuteListener &operator=(const MuteListener &) = delete;

    int port() const { return m_port; }

private:
    int m_fd;
    int m_port = 0;
};
