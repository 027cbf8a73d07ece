#pragma once

#include "common/result.h"
#include "feedback/mimemessage.h"
#include "feedback/smtpreply.h"
#include "platform/tcpsocket.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace feedback {

struct MailError
{
    enum class Kind
    {
        Request, // a malformed address, no recipient, or no connection to send on
        Network, // no socket, no connection, a failed send or read
        Timeout, // a limit of MailLimits, or the reply timeout's silence
        Refused // the server said no: log-in refused, an unexpected reply code
    };
    Kind kind = Kind::Network;
    std::string text; // the program's words or the server's, GBK; for messages, never parsed
};

// How long the mail sender may wait, besides the reply timeout that connect() takes (silence between bytes).
// A session runs from connect() until the connection ends: every wait in it ends by the time connect() started
// plus `session`, so a connect() and the sends after it finish within that together.
struct MailLimits
{
    std::chrono::milliseconds connect{10000}; // the TCP connect
    std::chrono::milliseconds send{30000}; // handing one command, the header or the body to the system
    std::chrono::milliseconds reply{30000}; // one whole reply, however slowly its bytes arrive
    std::chrono::milliseconds session{60000};
};

// A small SMTP client that delivers one plain-text GBK message at a time over at most one connection.
// Every operation blocks its caller, never longer than the limits allow; one caller at a time (not locked).
// The connection ends with QUIT when the next connect starts, when a connect fails, and when the object is
// destroyed. A send or a reply that fails or times out leaves the dialogue out of step: the connection is then
// closed at once, without QUIT or RSET.
class MailSender
{
public:
    using SocketFactory = std::function<std::unique_ptr<platform::TcpSocket>()>;
    // The clock that every limit and silence is measured on, the socket's deadlines included; tests give one
    // that moves only when their fake socket waits.
    using Now = std::function<std::chrono::steady_clock::time_point()>;

    explicit MailSender(
        MailLimits limits = {}, SocketFactory sockets = [] { return platform::createTcpSocket(); },
        Now now = std::chrono::steady_clock::now);
    ~MailSender();
    MailSender(const MailSender &) = delete;
    MailSender &operator=(const MailSender &) = delete;

    // Opens the connection and logs in (AUTH LOGIN or PLAIN, as the server offers) when user and password are
    // both given; else greets with HELO. Succeeds when ready to send. `timeoutMs` is the longest silence while
    // a reply is awaited; 0 or less becomes 1 ms.
    common::Result<void, MailError> connect(const std::string &server, int port = 25, const std::string &user = {},
        const std::string &password = {}, int timeoutMs = 2000);

    // Sends one message. Address lists are separated by "," or ";"; `replyTo` empty means `from`.
    // The error's text is the failure in the program's words or the server's.
    common::Result<void, MailError> send(const std::string &subject, const std::string &body, const std::string &to,
        const std::string &cc, const std::string &bcc, const std::string &from, const std::string &replyTo);

    void quit();

    bool connected() const { return m_connected; }
    // The last failure's text, kept also through the QUIT that ends a failed connect.
    const std::string &lastError() const { return m_reply.lastError; }
    int lastReplyCode() const { return m_reply.code; }

private:
    bool fail(MailError::Kind kind, const std::string &text);
    bool drop(MailError::Kind kind, const char *failure);
    bool readReply();
    bool expect(int code);
    bool sendLine(const std::string &line, const char *failure);
    bool openConnection(const std::string &server, int port);
    bool greetWithEhlo(const std::string &server, const std::string &user, const std::string &password);
    bool logIn(const std::string &server, const std::string &user, const std::string &password);
    bool greetWithHelo();
    void endConnection();
    bool transmit(const MailMessage &message);
    MailError failure() const { return {m_failureKind, m_reply.lastError}; }
    // Runs `step` (a QUIT or an RSET after a failure) and gives the failure as it was before, which stays the
    // last error.
    common::Unexpected<MailError> keepingFailure(const std::function<void()> &step);

    MailLimits m_limits;
    SocketFactory m_sockets;
    Now m_now;
    std::unique_ptr<platform::TcpSocket> m_socket;
    bool m_connected = false;
    std::chrono::milliseconds m_silence{2000};
    std::chrono::steady_clock::time_point m_sessionEnd;
    SmtpReply m_reply;
    MailError::Kind m_failureKind = MailError::Kind::Network;
    std::string m_hostName;
};

} // namespace feedback
