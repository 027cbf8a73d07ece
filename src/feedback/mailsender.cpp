#include "feedback/mailsender.h"

#include "common/base64.h"
#include "common/gbk.h"
#include "platform/tcpsocket.h"

#include <algorithm>
#include <cctype>

namespace feedback {

using common::gbk;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto PollStep = std::chrono::milliseconds(250);

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

} // namespace

MailSender::MailSender()
    : MailSender([] { return platform::createTcpSocket(); })
{
}

MailSender::MailSender(SocketFactory sockets)
    : m_sockets(std::move(sockets))
{
}

MailSender::~MailSender()
{
    quit();
}

bool MailSender::readReply()
{
    m_reply = SmtpReply{};
    std::string received;
    auto lastActivity = Clock::now();
    for (;;) {
        const auto silent = Clock::now() - lastActivity;
        if (silent > m_timeout) {
            m_reply.lastError = gbk("接收数据超时!");
            return false;
        }
        // Waiting on the socket for at most one poll step reads a reply the moment it arrives.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_timeout - silent);
        const auto wait = m_socket->waitReadable(std::min(PollStep, left + std::chrono::milliseconds(1)));
        if (wait == platform::TcpSocket::Wait::Failed) {
            m_reply.lastError = gbk("网络出错!");
            return false;
        }
        if (wait == platform::TcpSocket::Wait::Timeout)
            continue;
        if (!m_socket->receive(received)) {
            m_reply.lastError = gbk("网络出错!");
            return false;
        }
        lastActivity = Clock::now();
        if (const auto code = completeReplyCode(received)) {
            m_reply = parseReply(received, *code);
            return true;
        }
        if (received.size() > 1 << 20) {
            m_reply.lastError = gbk("网络出错!"); // no server talks this much in one reply
            return false;
        }
    }
}

bool MailSender::expect(int code)
{
    const bool read = readReply();
    if (read && m_reply.code == code)
        return true;
    if (m_reply.lastError.empty())
        m_reply.lastError = gbk(m_reply.code < 0 ? "等待SMTP邮件服务器响应失败!" : "SMTP邮件服务器返回失败信息!");
    return false;
}

bool MailSender::sendLine(const std::string &line)
{
    return m_socket && m_socket->send(line);
}

bool MailSender::connect(
    const std::string &server, int port, const std::string &user, const std::string &password, int timeoutMs)
{
    quit();
    if (server.empty())
        return false;
    m_timeout = std::chrono::milliseconds(std::max(1, timeoutMs));
    m_socket = m_sockets();
    if (!m_socket || !m_socket->open()) {
        m_reply = SmtpReply{};
        m_reply.lastError = gbk("创建SOCKET网络组件失败!");
        return false;
    }
    if (!m_socket->connect(server, port)) {
        m_socket->close();
        m_reply = SmtpReply{};
        m_reply.lastError = withServer("连接指定SMTP邮件服务器“%s”失败!", server);
        return false;
    }
    m_connected = true;
    const auto failed = [this] {
        const SmtpReply kept = m_reply;
        quit();
        m_reply = kept;
        return false;
    };
    if (!expect(220))
        return failed();
    m_hostName = platform::localHostName().substr(0, 100);
    if (!user.empty() && !password.empty()) {
        if (!sendLine("EHLO " + m_hostName + "\r\n")) {
            m_reply.lastError = withServer("登录指定SMTP邮件服务器“%s”失败!", server);
            return failed();
        }
        if (expect(250))
            return logIn(server, user, password) || failed();
    }
    return greetWithHelo() || failed();
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
    if (equalsNoCase(keyword, "AUTH=LOGIN") || hasWord(value, "LOGIN")) {
        (void)(sendLine("AUTH LOGIN\r\n") && expect(334) && sendLine(common::base64Encode(user) + "\r\n") && expect(334)
            && sendLine(common::base64Encode(password) + "\r\n") && readReply());
    } else if (hasWord(value, "PLAIN")) {
        const std::string credentials = std::string(1, '\0') + user + std::string(1, '\0') + password;
        (void)(sendLine("AUTH PLAIN\r\n") && expect(334) && sendLine(common::base64Encode(credentials) + "\r\n")
            && readReply());
    } else {
        return true;
    }
    // A 235 counts wherever it came, also in place of a 334.
    if (m_reply.code == 235)
        return true;
    m_reply.lastError = withServer("登录指定SMTP邮件服务器“%s”失败!", server);
    return false;
}

bool MailSender::greetWithHelo()
{
    if (!sendLine("HELO " + m_hostName + "\r\n")) {
        m_reply.lastError = gbk("发送数据失败!");
        return false;
    }
    return expect(250);
}

void MailSender::quit()
{
    if (m_connected && sendLine("QUIT\r\n"))
        expect(221);
    m_connected = false;
    if (m_socket)
        m_socket->close();
}

std::string MailSender::send(const std::string &subject, const std::string &body, const std::string &to,
    const std::string &cc, const std::string &bcc, const std::string &from, const std::string &replyTo)
{
    MailMessage message;
    message.subject = subject;
    message.body = body;
    const auto toList = parseAddressList(to);
    const auto ccList = parseAddressList(cc);
    const auto bccList = parseAddressList(bcc);
    if (!toList || !ccList || !bccList)
        return gbk("目的邮件地址格式错误!");
    message.to = *toList;
    message.cc = *ccList;
    message.bcc = *bccList;
    const auto sender = parseAddress(from);
    if (!sender)
        return gbk("发信人邮件地址格式错误!");
    message.from = *sender;
    const auto replyAddress = parseAddress(replyTo.empty() ? from : replyTo);
    if (!replyAddress)
        return gbk("回复邮件地址格式错误!");
    message.replyTo = *replyAddress;
    if (!m_connected)
        return gbk("未连接到SMTP服务器!");
    if (message.to.empty() && message.cc.empty() && message.bcc.empty())
        return gbk("未指定发送地址!");
    return transmit(message);
}

std::string MailSender::transmit(const MailMessage &message)
{
    if (!sendLine("MAIL FROM:<" + message.from.address + ">\r\n")) {
        m_reply.lastError = gbk("发送数据失败!");
        return failAndReset();
    }
    if (!expect(250))
        return failAndReset();
    for (const auto *list : {&message.to, &message.cc, &message.bcc}) {
        for (const MailAddress &recipient : *list) {
            if (!sendLine("RCPT TO:<" + recipient.address + ">\r\n")) {
                m_reply.lastError = gbk("发送数据失败!");
                return failAndReset();
            }
            if (!expect(250))
                return failAndReset();
        }
    }
    const auto step = [this](bool sent, const char *failure) {
        if (!sent)
            m_reply.lastError = gbk(failure);
        return sent;
    };
    if (!step(sendLine("DATA\r\n"), "发送数据失败!") || !expect(354)
        || !step(sendLine(headerBlock(message, dateHeader(std::time(nullptr)))), "发送邮件头失败!")
        || !step(sendLine(bodyBlock(message.body)), "发送邮件内容失败!")
        || !step(sendLine("\r\n.\r\n"), "发送数据失败!") || !expect(250))
        return failAndReset();
    return {};
}

std::string MailSender::failAndReset()
{
    const SmtpReply kept = m_reply;
    if (sendLine("RSET\r\n"))
        readReply();
    m_reply = kept;
    return m_reply.lastError;
}

} // namespace feedback
