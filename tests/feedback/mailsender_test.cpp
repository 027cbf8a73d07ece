#include "common/base64.h"
#include "common/gbk.h"
#include "feedback/feedback.h"
#include "feedback/mailsender.h"
#include "platform/tcpsocket.h"
#include "support/tempdir.h"
#include "support/waituntil.h"

#include <QProcess>
#include <chrono>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

using namespace feedback;
using common::gbk;

namespace {

// A peer on loopback: the scripted server or aiosmtpd (with Debian's python3).
class Peer
{
public:
    Peer(const QString &program, const QStringList &arguments)
    {
        m_process.start(program, arguments);
        m_process.waitForReadyRead(10000);
        m_port = m_process.readLine().trimmed().toInt();
    }
    ~Peer() { stop(); }
    void stop()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    int port() const { return m_port; }

private:
    QProcess m_process;
    int m_port = 0;
};

class ScriptedSmtp : public Peer
{
public:
    ScriptedSmtp(const std::string &scenario, const std::filesystem::path &log, const char *pace = "1.5",
        const char *host = "127.0.0.1")
        : Peer(QStringLiteral("python3"),
            {QStringLiteral(KAVO_TEST_SUPPORT_DIR "/scripted_smtp.py"), QString::fromStdString(scenario),
                QString::fromStdString(log.string()), QString::fromLatin1(pace), QString::fromLatin1(host)})
        , m_log(log)
    {
    }
    std::string log() const { return readFile(m_log); }

private:
    std::filesystem::path m_log;
};

// The sender's failure text, or the empty text on success.
bool ok(const common::Result<void, MailError> &result)
{
    return result.has_value();
}

std::string failureOf(const common::Result<void, MailError> &result)
{
    return result.has_value() ? std::string() : result.error().text;
}

std::string sendOne(MailSender &sender)
{
    return failureOf(
        sender.send(gbk("反馈信息"), gbk("名称：a\r\n\r\n内容：bbbbbbbbbb"), "author@x", "", "", "me@x", ""));
}

// A peer in the test's own time, which moves only while the sender waits: after the connect and after each
// command it answers with the next of `replies`, one byte every `pace`.
class PacedSocket final : public platform::TcpSocket
{
public:
    PacedSocket(
        std::chrono::steady_clock::time_point &now, std::chrono::milliseconds pace, std::vector<std::string> replies)
        : m_now(now)
        , m_pace(pace)
        , m_replies(std::move(replies))
    {
    }
    bool open() override { return true; }
    Outcome connect(const std::string &, int, Deadline) override { return answer(); }
    Outcome send(std::string_view, Deadline) override { return answer(); }
    Wait waitReadable(std::chrono::milliseconds limit) override
    {
        if (m_pending.empty() || m_pace > limit) {
            m_now += limit;
            return Wait::Timeout;
        }
        m_now += m_pace;
        return Wait::Readable;
    }
    bool receive(std::string &out) override
    {
        out += m_pending.front();
        m_pending.erase(0, 1);
        return true;
    }
    void close() override { }

private:
    Outcome answer()
    {
        if (m_next < m_replies.size())
            m_pending += m_replies[m_next++];
        return Outcome::Done;
    }
    std::chrono::steady_clock::time_point &m_now;
    std::chrono::milliseconds m_pace;
    std::vector<std::string> m_replies;
    std::size_t m_next = 0;
    std::string m_pending;
};

// Runs `work` on a thread of its own and gives its result. A sender that is still waiting after 30 s fails the
// test; stopping the peer then ends its wait, so the suite goes on.
template <typename Work> auto boundedRun(Peer &peer, Work work)
{
    auto future = std::async(std::launch::async, std::move(work));
    const bool ended = future.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!ended)
        peer.stop();
    EXPECT_TRUE(ended) << "the sender was still waiting after 30 s";
    return future.get();
}

} // namespace

TEST(MailSender, ChoosesLoginFromAMultiLineAuthOfferHoweverTheRepliesArrive)
{
    // "drip" sends every reply one byte at a time.
    for (const char *scenario : {"login-plain", "drip"}) {
        SCOPED_TRACE(scenario);
        TempDir dir;
        ScriptedSmtp server(scenario, dir.path() / "log", "0.005");
        MailSender sender;
        const auto connected = sender.connect("127.0.0.1", server.port(), "user", "secret");
        ASSERT_TRUE(ok(connected)) << common::utf8FromGbk(failureOf(connected));
        EXPECT_EQ(common::utf8FromGbk(sendOne(sender)), "");
        sender.quit();
        const std::string log = server.log();
        EXPECT_NE(log.find("EHLO "), std::string::npos);
        EXPECT_NE(log.find("AUTH LOGIN\r\n" + common::base64Encode("user") + "\r\n" + common::base64Encode("secret")
                      + "\r\n"),
            std::string::npos);
        EXPECT_NE(log.find("MAIL FROM:<me@x>\r\nRCPT TO:<author@x>\r\nDATA\r\nFrom: me@x\r\n"), std::string::npos);
        EXPECT_NE(log.find("\r\n.\r\nQUIT\r\n"), std::string::npos);
        EXPECT_EQ(log.find("HELO"), std::string::npos);
    }
}

TEST(MailSender, ReachesServersByNameAndOverIpv6AndRefusesPortsOutOfRange)
{
    TempDir dir;
    ScriptedSmtp v4("login-plain", dir.path() / "v4");
    MailSender sender;
    // Cut to 16 bits, this port would reach the very server.
    const auto wrapped = sender.connect("127.0.0.1", v4.port() + 65536, "user", "secret");
    EXPECT_EQ(failureOf(wrapped), gbk("连接指定SMTP邮件服务器“127.0.0.1”失败!"));
    EXPECT_EQ(v4.log(), "");
    const auto byName = sender.connect("localhost", v4.port(), "user", "secret");
    EXPECT_TRUE(ok(byName)) << common::utf8FromGbk(failureOf(byName));
    ScriptedSmtp v6("login-plain", dir.path() / "v6", "1.5", "::1");
    if (v6.port() == 0)
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    const auto connected = sender.connect("::1", v6.port(), "user", "secret");
    ASSERT_TRUE(ok(connected)) << common::utf8FromGbk(failureOf(connected));
    EXPECT_EQ(sendOne(sender), "");
}

TEST(MailSender, AuthEqualsLoginAndPlainOnly)
{
    TempDir dir;
    ScriptedSmtp equals("auth-equals", dir.path() / "equals");
    MailSender sender;
    ASSERT_TRUE(ok(sender.connect("127.0.0.1", equals.port(), "user", "secret")));
    EXPECT_NE(equals.log().find("AUTH LOGIN\r\n"), std::string::npos);
    ScriptedSmtp plain("plain-only", dir.path() / "plain");
    ASSERT_TRUE(ok(sender.connect("127.0.0.1", plain.port(), "user", "secret")));
    const std::string credentials = std::string(1, '\0') + "user" + std::string(1, '\0') + "secret";
    EXPECT_NE(plain.log().find("AUTH PLAIN\r\n" + common::base64Encode(credentials) + "\r\n"), std::string::npos);
}

TEST(MailSender, RefusedEhloFallsBackToHeloAndNoAuthOfferSkipsTheLogIn)
{
    TempDir dir;
    ScriptedSmtp refused("ehlo-refused", dir.path() / "refused");
    MailSender sender;
    ASSERT_TRUE(ok(sender.connect("127.0.0.1", refused.port(), "user", "secret")));
    EXPECT_NE(refused.log().find("HELO "), std::string::npos);
    EXPECT_EQ(refused.log().find("AUTH"), std::string::npos);
    ScriptedSmtp none("no-auth", dir.path() / "none");
    ASSERT_TRUE(ok(sender.connect("127.0.0.1", none.port(), "user", "secret")));
    EXPECT_EQ(sendOne(sender), "");
    EXPECT_EQ(none.log().find("AUTH"), std::string::npos);
    EXPECT_EQ(none.log().find("HELO"), std::string::npos);
}

TEST(MailSender, SilentServerTimesOutAfterItsReplyTimeout)
{
    TempDir dir;
    ScriptedSmtp silent("silent", dir.path() / "log");
    MailSender sender;
    const auto connected = sender.connect("127.0.0.1", silent.port(), "user", "secret", 300);
    ASSERT_FALSE(ok(connected));
    EXPECT_EQ(connected.error().kind, MailError::Kind::Timeout);
    EXPECT_EQ(sender.lastError(), gbk("接收数据超时!"));
    EXPECT_FALSE(sender.connected());
}

TEST(MailSender, SilenceCountsFromTheLastByteAndEveryReplyAndSessionHasItsLimit)
{
    using std::chrono::milliseconds;
    const std::string greeting = "220 mx1 ESMTP fake\r\n";
    const struct
    {
        const char *name;
        std::vector<std::string> replies;
        milliseconds pace;
        int silenceMs;
        MailLimits limits;
        std::optional<milliseconds> failsAt; // nothing: the connect succeeds
    } cases[] = {
        {"a silent peer, after the silence", {}, milliseconds(50), 2000, {}, milliseconds(2000)},
        {"a byte every 50 ms never falls silent", {greeting, "250 fake\r\n"}, milliseconds(50), 500, {}, {}},
        {"a reply that never ends, after its own limit", {"220-" + std::string(1000, 'x')}, milliseconds(50), 500,
            MailLimits{.reply = milliseconds(1000)}, milliseconds(1000)},
        {"a slow dialogue, at the end of the session", {greeting}, milliseconds(100), 500,
            MailLimits{.session = milliseconds(1000)}, milliseconds(1000)},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        std::chrono::steady_clock::time_point now{};
        MailSender sender(
            row.limits, [&] { return std::make_unique<PacedSocket>(now, row.pace, row.replies); },
            [&now] { return now; });
        const auto connected = sender.connect("mx", 25, "", "", row.silenceMs);
        ASSERT_EQ(connected.has_value(), !row.failsAt) << common::utf8FromGbk(failureOf(connected));
        if (row.failsAt) {
            EXPECT_EQ(connected.error().kind, MailError::Kind::Timeout);
            EXPECT_EQ(connected.error().text, gbk("接收数据超时!"));
            EXPECT_EQ(now.time_since_epoch(), *row.failsAt);
        }
    }
}

TEST(MailSender, RefusedRecipientIsResetAndReported)
{
    TempDir dir;
    ScriptedSmtp server("refuse-rcpt", dir.path() / "log");
    MailSender sender;
    ASSERT_TRUE(ok(sender.connect("127.0.0.1", server.port(), "user", "secret")));
    EXPECT_EQ(failureOf(sender.send("s", "b", "one@x;two@x", "", "", "me@x", "")), "5.1.1 No such user here");
    EXPECT_EQ(sender.lastReplyCode(), 550);
    const std::string log = server.log();
    EXPECT_NE(log.find("RCPT TO:<one@x>\r\nRSET\r\n"), std::string::npos);
    EXPECT_EQ(log.find("two@x"), std::string::npos);
    EXPECT_TRUE(sender.connected());
}

TEST(MailSender, MalformedAddressesSendNothing)
{
    TempDir dir;
    ScriptedSmtp server("login-plain", dir.path() / "log");
    MailSender sender;
    EXPECT_EQ(failureOf(sender.send("s", "b", "a@x", "", "", "me@x", "")), gbk("未连接到SMTP服务器!"));
    ASSERT_TRUE(ok(sender.connect("127.0.0.1", server.port(), "user", "secret")));
    const std::size_t before = server.log().size();
    EXPECT_EQ(failureOf(sender.send("s", "b", "x <a@x", "", "", "me@x", "")), gbk("目的邮件地址格式错误!"));
    EXPECT_EQ(failureOf(sender.send("s", "b", "a@x", "", "", "me <x", "")), gbk("发信人邮件地址格式错误!"));
    EXPECT_EQ(failureOf(sender.send("s", "b", "a@x", "", "", "me@x", "r <x")), gbk("回复邮件地址格式错误!"));
    EXPECT_EQ(failureOf(sender.send("s", "b", "", "", "", "me@x", "")), gbk("未指定发送地址!"));
    EXPECT_EQ(server.log().size(), before);
    EXPECT_FALSE(ok(sender.connect("127.0.0.1", 1, "u", "p")));
    EXPECT_EQ(sender.lastError(), gbk("连接指定SMTP邮件服务器“127.0.0.1”失败!"));
}

TEST(MailSender, DeliversToAiosmtpdWithLoginAndWithPlain)
{
    for (const char *mechanism : {"LOGIN", "PLAIN"}) {
        SCOPED_TRACE(mechanism);
        TempDir dir;
        Peer sink(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(KAVO_SOURCE_DIR "/tools/smtp_sink.py"), QStringLiteral("--port"), QStringLiteral("0"),
                QStringLiteral("--maildir"), QString::fromStdString(dir.path().string()), QStringLiteral("--only"),
                QString::fromLatin1(mechanism)});
        MailSender sender;
        MailConfig config{"127.0.0.1", sink.port(), "10001", "demo2026", "kavo@localhost", "author@localhost"};
        EXPECT_TRUE(ok(submitFeedback(sender, config, gbk("张三"), gbk("这是一条足够长的反馈。"))));
        sender.quit();
        const std::string mail = readFile(dir.path() / "001.eml");
        EXPECT_NE(mail.find("Subject: =?gb2312?B?" + common::base64Encode(gbk("反馈信息")) + "?="), std::string::npos);
        EXPECT_NE(mail.find("Content-type: text/plain; charset=\"gb2312\""), std::string::npos);
        EXPECT_NE(
            mail.find(common::base64Encode(gbk("名称：张三\r\n\r\n内容：这是一条足够长的反馈。"))), std::string::npos);
        MailConfig wrong = config;
        wrong.password = "nope";
        EXPECT_EQ(
            failureOf(submitFeedback(sender, wrong, "a", "0123456789")), gbk("登录指定SMTP邮件服务器“127.0.0.1”失败!"));
    }
}

TEST(MailSenderLimits, PeersThatHoldTheSenderMeetATimeOut)
{
    using std::chrono::milliseconds;
    const struct
    {
        const char *scenario;
        const char *pace; // seconds per byte or per reply
        MailLimits limits;
        bool inSend; // the failure comes in send(), after a good connect()
        std::string text;
    } cases[] = {
        {"trickle", "0.2", MailLimits{.reply = milliseconds(1000)}, false, gbk("接收数据超时!")},
        {"full-queue", "0", MailLimits{.connect = milliseconds(500)}, false,
            gbk("连接指定SMTP邮件服务器“127.0.0.1”失败!")},
        {"stall-data", "0", MailLimits{.send = milliseconds(500)}, true, gbk("发送邮件内容失败!")},
        {"mute-ehlo", "0", MailLimits{.reply = milliseconds(500)}, false, gbk("接收数据超时!")},
        {"slow", "0.3", MailLimits{.session = milliseconds(1000)}, false,
            gbk("登录指定SMTP邮件服务器“127.0.0.1”失败!")},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.scenario);
        TempDir dir;
        ScriptedSmtp peer(row.scenario, dir.path() / "log", row.pace);
        MailSender sender(row.limits);
        const auto result = boundedRun(peer, [&] {
            const auto connected = sender.connect("127.0.0.1", peer.port(), "user", "secret");
            if (!row.inSend || !connected.has_value())
                return connected;
            return sender.send("s", std::string(1 << 20, 'a'), "author@x", "", "", "me@x", "");
        });
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().kind, MailError::Kind::Timeout);
        EXPECT_EQ(result.error().text, row.text);
        EXPECT_EQ(sender.lastError(), row.text);
        EXPECT_FALSE(sender.connected());
    }
}

// Quitting the program stops the sender's socket: a server that trickles its greeting for as long as the limits
// allow (an hour here) does not hold the mail.
TEST(MailSender, AStopRequestEndsAReplyThatTrickles)
{
    using std::chrono::hours;
    TempDir dir;
    ScriptedSmtp peer("trickle", dir.path() / "log", "0.05");
    std::stop_source quitting;
    MailSender sender(MailLimits{.reply = hours(1), .session = hours(1)},
        [stop = quitting.get_token()] { return platform::createTcpSocket(stop); });
    std::jthread quitter([&] {
        waitUntil([&] { return !peer.log().empty(); });
        quitting.request_stop();
    });
    const auto result = boundedRun(peer, [&] { return sender.connect("127.0.0.1", peer.port(), "u", "p", 3600000); });
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, MailError::Kind::Network);
    EXPECT_FALSE(sender.connected());
    EXPECT_EQ(peer.log(), "<greeting>\r\n");
}

TEST(MailSender, DisplayNamesFromTheEnvironmentArriveAsGbkAndLineBreaksAsCrLf)
{
    TempDir dir;
    Peer sink(QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(KAVO_SOURCE_DIR "/tools/smtp_sink.py"), QStringLiteral("--port"), QStringLiteral("0"),
            QStringLiteral("--maildir"), QString::fromStdString(dir.path().string())});
    const std::string port = std::to_string(sink.port());
    const std::pair<const char *, const char *> environment[] = {{"KAVO_SMTP_HOST", "127.0.0.1"},
        {"KAVO_SMTP_PORT", port.c_str()}, {"KAVO_SMTP_USER", "10001"}, {"KAVO_SMTP_PASSWORD", "demo2026"},
        {"KAVO_SMTP_FROM", "反馈 <kavo@localhost>"}, {"KAVO_SMTP_TO", "作者 <author@localhost>"}};
    for (const auto &[name, value] : environment)
        ::setenv(name, value, 1);
    MailSender sender;
    const auto sent = submitFeedback(sender, mailConfig(), gbk("张三"), gbk("第一行\n第二行"));
    for (const auto &[name, value] : environment)
        ::unsetenv(name);
    ASSERT_TRUE(ok(sent)) << common::utf8FromGbk(failureOf(sent));
    sender.quit();
    const std::string mail = readFile(dir.path() / "001.eml");
    EXPECT_NE(
        mail.find("From: =?gb2312?B?" + common::base64Encode(gbk("反馈")) + "?= <kavo@localhost>"), std::string::npos);
    EXPECT_NE(
        mail.find("To: =?gb2312?B?" + common::base64Encode(gbk("作者")) + "?= <author@localhost>"), std::string::npos);
    EXPECT_NE(mail.find(common::base64Encode(gbk("名称：张三\r\n\r\n内容：第一行\r\n第二行"))), std::string::npos);
}
