#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// One blocking TCP connection, as the mail sender uses it. Not thread-safe: one caller at a time.
class TcpSocket
{
public:
    virtual ~TcpSocket() = default;
    // False when the socket could not be created.
    virtual bool open() = 0;
    // `host` is a dotted IPv4 address or a host name (its first address is used).
    virtual bool connect(const std::string &host, int port) = 0;
    virtual bool send(std::string_view bytes) = 0;
    enum class Wait
    {
        Readable,
        Timeout,
        Failed
    };
    // Waits at most `limit` for data to read.
    virtual Wait waitReadable(std::chrono::milliseconds limit) = 0;
    // Appends what is there to `out`; false on a read failure or when the peer has closed.
    virtual bool receive(std::string &out) = 0;
    virtual void close() = 0;
};

std::unique_ptr<TcpSocket> createTcpSocket();

// This machine's host name, at most 100 bytes.
std::string localHostName();

} // namespace platform
