#include "feedback/mailsender.h"

#include "common/base64.h"
#include "common/gbk.h"

#include <algorithm>
#include <cctype>

namespace feedback {

using common::gbk;
using Kind = MailError::Kind;
using Outcome = platform::TcpSocket::Outcome;

namespace {

constexpr std::size_t MaxReplyBytes = 1 << 20; // no server talks this much in one reply
constexpr const char *SendFailure = "发送数据失败!";

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// Whether `word` stands among the words of `text` (separated by bytes of value 32 or below), case ignored.
bool hasWord(std::string_view text, std::string_view word)
{
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && static_cast<unsigned char>(text[at]) <= 32)
            ++at;
        std::size_t end = at;
        while (end < text.size() && static_cast<unsigned char>(text[end]) > 32)
            ++end;
        if (end > at && equalsNoCase(text.substr(at, end - at), word))
            return true;
        at = end;
    }
    return false;
}

std::string withServer(const char *utf8Template, const std::string &server)
{
    std::string text = gbk(utf8Template);
    return common::replaceAll(text, "%s", server);
}

common::Unexpected<MailError> refusal(Kind kind, const char *utf8Text)
{
    return common::unexpected(MailError{kind, gbk(utf8Text)});
}

} // namespace

MailSender::MailSender(MailLimits limits, SocketFactory sockets, Now now)
    : m_limits(limits)
    , m_sockets(std::move(sockets))
    , m_now(std::move(now))
{
}

MailSender::~MailSender()
{
    quit();
}

bool MailSender::fail(Kind kind, const std::string &text)
{
    m_failureKind = kind;
    m_reply.lastError = text;
    return false;
}

bool MailSender::readReply()
{
    m_reply = SmtpReply{};
    SmtpReplyReader reader;
    const auto replyEnd = std::min(m_now() + m_limits.reply, m_sessionEnd);
    auto lastByte = m_now();
    for (;;) {
        const auto now = m_now();
        // Silence ends the wait, and so does a reply that trickles in for longer than its own limit.
        const auto until = std::min(lastByte + m_silence, replyEnd);
        if (now >= until)
            return drop(Kind::Timeout, "接收数据超时!");
        const auto wait = m_socket->waitReadable(std::chrono::ceil<std::chrono::milliseconds>(until - now));
        if (wait == platform::TcpSocket::Wait::Failed)
            return drop(Kind::Network, "网络出错!");
        if (wait == platform::TcpSocket::Wait::Timeout)
            continue;
        std::string chunk;
        if (!m_socket->receive(chunk))
            return drop(Kind::Network, "网络出错!");
        if (chunk.empty())
            continue;
        lastByte = m_now();
        if (const auto code = reader.feed(chunk)) {
            m_reply = parseReply(reader.received(), *code);
            return true;
        }
        if (reader.received().size() > MaxReplyBytes)
            return drop(Kind::Network, "网络出错!");
    }
}

bool MailSender::drop(Kind kind, const char *failure)
{
    // The dialogue is out of step: a reply is missing or cut, or part of a command has gone out. Nothing said
    // after that on this connection would be understood, so it ends without QUIT or RSET.
    m_connected = false;
    m_socket->close();
    return fail(kind, gbk(failure));
}

bool MailSender::expect(int code)
{
    if (!readReply())
        return false;
    if (m_reply.code == code)
        return true;
    m_failureKind = Kind::Refused;
    if (m_reply.lastError.empty())
        m_reply.lastError = gbk(m_reply.code < 0 ? "等待SMTP邮件服务器响应失败!" : "SMTP邮件服务器返回失败信息!");
    return false;
}

bool MailSender::sendLine(const std::string &line, const char *failure)
{
    if (!m_socket)
        return fail(Kind::Network, gbk(failure));
    const Outcome outcome = m_socket->send(line, std::min(m_now() + m_limits.send, m_sessionEnd));
    if (outcome == Outcome::Done)
        return true;
    return drop(outcome == Outcome::TimedOut ? Kind::Timeout : Kind::Network, failure);
}

common::Result<void, MailError> MailSender::connect(
    const std::string &server, int port, const std::string &user, const std::string &password, int timeoutMs)
{
    quit();
    m_silence = std::chrono::milliseconds(std::max(1, timeoutMs));
    m_sessionEnd = m_now() + m_limits.session;
    m_reply = SmtpReply{};
    if (server.empty()) {
        fail(Kind::Network, withServer("连接指定SMTP邮件服务器“%s”失败!", server));
        return common::unexpected(failure());
    }
    if (!openConnection(server, port))
        return common::unexpected(failure());
    m_connected = true;
    bool ready = expect(220);
    if (ready) {
        m_hostName = platform::localHostName().substr(0, 100);
        ready = !user.empty() && !password.empty() ? greetWithEhlo(server, user, password) : greetWithHelo();
    }
    if (ready)
        return {};
    return keepingFailure([this] { endConnection(); });
}

bool MailSender::openConnection(const std::string &server, int port)
{
    m_socket = m_sockets();
    if (!m_socket || !m_socket->open())
        return fail(Kind::Network, gbk("创建SOCKET网络组件失败!"));
    const Outcome outcome = m_socket->connect(server, port, std::min(m_now() + m_limits.connect, m_sessionEnd));
    if (outcome == Outcome::Done)
        return true;
    m_socket->close();
    return fail(outcome == Outcome::TimedOut ? Kind::Timeout : Kind::Network,
        withServer("连接指定SMTP邮件服务器“%s”失败!", server));
}

bool MailSender::greetWithEhlo(const std::string &server, const std::string &user, const std::string &password)
{
    if (!sendLine("EHLO " + m_hostName + "\r\n", SendFailure))
        return fail(m_failureKind, withServer("登录指定SMTP邮件服务器“%s”失败!", server));
    if (expect(250))
        return logIn(server, user, password);
    return m_connected && greetWithHelo();
}

bool MailSender::logIn(const std::string &server, const std::string &user, const std::string &password)
{
    const auto &keys = m_reply.keywords;
    auto line = std::find_if(keys.begin(), keys.end(), [](const std::string &k) { return equalsNoCase(k, "AUTH"); });
    if (line == keys.end())
        line = std::find_if(
            keys.begin(), keys.end(), [](const std::string &k) { return equalsNoCase(k, "AUTH=LOGIN"); });
    if (line == keys.end())
        return true;
    const std::string keyword = *line;
    const std::string value = m_reply.values[static_cast<std::size_t>(line - keys.begin())];
    bool exchanged = false;
    if (equalsNoCase(keyword, "AUTH=LOGIN") || hasWord(value, "LOGIN")) {
        exchanged = sendLine("AUTH LOGIN\r\n", SendFailure) && expect(334)
            && sendLine(common::base64Encode(user) + "\r\n", SendFailure) && expect(334)
            && sendLine(common::base64Encode(password) + "\r\n", SendFailure) && readReply();
    } else if (hasWord(value, "PLAIN")) {
        const std::string credentials = std::string(1, '\0') + user + std::string(1, '\0') + password;
        exchanged = sendLine("AUTH PLAIN\r\n", SendFailure) && expect(334)
            && sendLine(common::base64Encode(credentials) + "\r\n", SendFailure) && readReply();
    } else {
        return true;
    }
    // A 235 counts wherever it came, also in place of a 334.
    if (m_reply.code == 235)
        return true;
    return fail(exchanged ? Kind::Refused : m_failureKind, withServer("登录指定SMTP邮件服务器“%s”失败!", server));
}

bool MailSender::greetWithHelo()
{
    return sendLine("HELO " + m_hostName + "\r\n", SendFailure) && expect(250);
}

void MailSender::quit()
{
    // Saying goodbye gets a fresh bound of its own: the session it ends may be over.
    m_sessionEnd = m_now() + m_limits.reply;
    endConnection();
}

void MailSender::endConnection()
{
    if (m_connected && sendLine("QUIT\r\n", SendFailure))
        (void)expect(221);
    m_connected = false;
    if (m_socket)
        m_socket->close();
}

common::Result<void, MailError> MailSender::send(const std::string &subject, const std::string &body,
    const std::string &to, const std::string &cc, const std::string &bcc, const std::string &from,
    const std::string &replyTo)
{
    MailMessage message;
    message.subject = subject;
    message.body = body;
    const auto toList = parseAddressList(to);
    const auto ccList = parseAddressList(cc);
    const auto bccList = parseAddressList(bcc);
    if (!toList || !ccList || !bccList)
        return refusal(Kind::Request, "目的邮件地址格式错误!");
    message.to = *toList;
    message.cc = *ccList;
    message.bcc = *bccList;
    const auto sender = parseAddress(from);
    if (!sender)
        return refusal(Kind::Request, "发信人邮件地址格式错误!");
    message.from = *sender;
    const auto replyAddress = parseAddress(replyTo.empty() ? from : replyTo);
    if (!replyAddress)
        return refusal(Kind::Request, "回复邮件地址格式错误!");
    message.replyTo = *replyAddress;
    if (!m_connected)
        return refusal(Kind::Request, "未连接到SMTP服务器!");
    if (message.to.empty() && message.cc.empty() && message.bcc.empty())
        return refusal(Kind::Request, "未指定发送地址!");
    if (transmit(message))
        return {};
    return keepingFailure([this] {
        if (m_connected && sendLine("RSET\r\n", SendFailure))
            (void)readReply();
    });
}

bool MailSender::transmit(const MailMessage &message)
{
    if (!sendLine("MAIL FROM:<" + message.from.address + ">\r\n", SendFailure) || !expect(250))
        return false;
    for (const auto *list : {&message.to, &message.cc, &message.bcc}) {
        for (const MailAddress &recipient : *list) {
            if (!sendLine("RCPT TO:<" + recipient.address + ">\r\n", SendFailure) || !expect(250))
                return false;
        }
    }
    return sendLine("DATA\r\n", SendFailure) && expect(354)
        && sendLine(headerBlock(message, dateHeader(std::time(nullptr))), "发送邮件头失败!")
        && sendLine(bodyBlock(message.body), "发送邮件内容失败!") && sendLine("\r\n.\r\n", SendFailure) && expect(250);
}

common::Unexpected<MailError> MailSender::keepingFailure(const std::function<void()> &step)
{
    const MailError kept = failure();
    const SmtpReply keptReply = m_reply;
    step();
    m_reply = keptReply;
    m_failureKind = kept.kind;
    return common::unexpected(kept);
}

} // namespace feedback
