#pragma once

#include <chrono>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

namespace platform {

// One TCP connection, as the mail sender uses it. Every call that may wait is bounded: connect and send by a
// deadline, waitReadable by a limit. Not thread-safe: one caller at a time.
class TcpSocket
{
public:
    using Deadline = std::chrono::steady_clock::time_point;
    enum class Outcome
    {
        Done,
        Failed,
        TimedOut
    };

    virtual ~TcpSocket() = default;
    // False when the socket could not be created.
    virtual bool open() = 0;
    // `host` is a numeric IPv4 or IPv6 address or a host name, whose addresses are tried in the resolver's order
    // until one answers. Fails for a port outside 1 to 65535. The look-up and the connect end by `deadline`.
    virtual Outcome connect(const std::string &host, int port, Deadline deadline) = 0;
    // Hands every byte to the system by `deadline`. After Failed or TimedOut an unknown part has gone out.
    virtual Outcome send(std::string_view bytes, Deadline deadline) = 0;
    enum class Wait
    {
        Readable,
        Timeout,
        Failed
    };
    // Waits at most `limit` for data to read (or for the peer to close).
    virtual Wait waitReadable(std::chrono::milliseconds limit) = 0;
    // Appends what is there to `out` (possibly nothing); false on a read failure or when the peer has closed.
    virtual bool receive(std::string &out) = 0;
    virtual void close() = 0;
};

// A stop request on `stop` ends every wait of the socket at once, also one under way on another thread: connect
// and send fail, waitReadable reports Failed. The socket is of no further use then.
std::unique_ptr<TcpSocket> createTcpSocket(std::stop_token stop = {});

// This machine's host name, at most 100 bytes.
std::string localHostName();

} // namespace platform
