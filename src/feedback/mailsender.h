#pragma once

#include "feedback/mimemessage.h"
#include "feedback/smtpreply.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace platform {
class TcpSocket;
}

namespace feedback {

// A small SMTP client that delivers one plain-text GBK message at a time over at most one connection.
// Every operation blocks its caller; one caller at a time (not locked). The connection ends with QUIT when
// the next connect starts, when a connect fails, and when the object is destroyed.
class MailSender
{
public:
    using SocketFactory = std::function<std::unique_ptr<platform::TcpSocket>()>;

    MailSender(); // real sockets
    explicit MailSender(SocketFactory sockets);
    ~MailSender();
    MailSender(const MailSender &) = delete;
    MailSender &operator=(const MailSender &) = delete;

    // Opens the connection and logs in (AUTH LOGIN or PLAIN, as the server offers) when user and password are
    // both given; else greets with HELO. True when ready to send. A timeout of 0 or less becomes 1 ms.
    bool connect(const std::string &server, int port = 25, const std::string &user = {},
        const std::string &password = {}, int timeoutMs = 2000);

    // Sends one message. Address lists are separated by "," or ";"; `replyTo` empty means `from`.
    // Returns the empty text on success, else the failure in the program's words or the server's.
    std::string send(const std::string &subject, const std::string &body, const std::string &to, const std::string &cc,
        const std::string &bcc, const std::string &from, const std::string &replyTo);

    void quit();

    bool connected() const { return m_connected; }
    const std::string &lastError() const { return m_reply.lastError; }
    int lastReplyCode() const { return m_reply.code; }

private:
    bool readReply();
    bool expect(int code);
    bool sendLine(const std::string &line);
    bool logIn(const std::string &server, const std::string &user, const std::string &password);
    bool greetWithHelo();
    std::string transmit(const MailMessage &message);
    std::string failAndReset();

    SocketFactory m_sockets;
    std::unique_ptr<platform::TcpSocket> m_socket;
    bool m_connected = false;
    std::chrono::milliseconds m_timeout{2000};
    SmtpReply m_reply;
    std::string m_hostName;
};

} // namespace feedback
