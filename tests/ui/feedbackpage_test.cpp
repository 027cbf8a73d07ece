#include "common/gbk.h"
#include "common/networkpool.h"
#include "feedback/mailsender.h"
#include "feedback/ui/feedbackpage.h"
#include "support/mutelistener.h"
#include "support/tempdir.h"
#include "ui/fakes.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <gtest/gtest.h>

using common::gbk;
using feedback::FeedbackPage;

namespace {

class FeedbackPageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        page = std::make_unique<FeedbackPage>(FeedbackPage::Controls{&name, &content, &submit},
            std::make_shared<feedback::MailSender>(), common::networkPool(), notifier);
    }

    void press() { QTest::mouseClick(&submit, Qt::LeftButton); }

    QWidget host;
    QLineEdit name{QStringLiteral("网友"), &host};
    QPlainTextEdit content{&host};
    QPushButton submit{&host};
    FakeNotifier notifier;
    std::unique_ptr<FeedbackPage> page;
};

} // namespace

TEST_F(FeedbackPageTest, RefusesAnEmptyNameEmptyOrShortContent)
{
    host.show();
    EXPECT_EQ(submit.text(), QStringLiteral("提交反馈信息"));
    content.setPlainText(QStringLiteral("012345678"));
    press();
    name.clear();
    press();
    name.setText(QStringLiteral("网友"));
    content.clear();
    press();
    ASSERT_EQ(notifier.notices.size(), 3u);
    EXPECT_EQ(notifier.notices[0].text, gbk("对不起、反馈内容不能小于10个文字!"));
    EXPECT_EQ(notifier.notices[1].text, gbk("请输入正确的名称!"));
    EXPECT_EQ(notifier.notices[2].text, gbk("请输入你要反馈的内容!"));
}

TEST_F(FeedbackPageTest, AcceptedMailIsAcknowledgedAndTheMessageCleared)
{
    TempDir maildir;
    QProcess sink;
    sink.start(QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(KAVO_SOURCE_DIR "/tools/smtp_sink.py"), QStringLiteral("--port"), QStringLiteral("0"),
            QStringLiteral("--maildir"), QString::fromStdString(maildir.path().string())});
    ASSERT_TRUE(sink.waitForReadyRead(10000));
    qputenv("KAVO_SMTP_PORT", sink.readLine().trimmed());
    host.show();
    content.setPlainText(QStringLiteral("五个中文字"));
    QSignalSpy done(page.get(), &FeedbackPage::submitted);
    press();
    EXPECT_EQ(submit.text(), QStringLiteral("正在提交"));
    EXPECT_FALSE(submit.isEnabled());
    ASSERT_TRUE(done.wait(10000));
    EXPECT_TRUE(done.at(0).at(0).toBool());
    EXPECT_EQ(submit.text(), QStringLiteral("提交反馈信息"));
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].text, gbk("你提交的信息已经受理，如有问题请直接联系QQ500600700"));
    EXPECT_TRUE(notifier.notices[0].modal);
    EXPECT_EQ(content.toPlainText(), QString());
    EXPECT_EQ(name.text(), QStringLiteral("网友"));
    EXPECT_TRUE(std::filesystem::exists(maildir.path() / "001.eml"));
    qunsetenv("KAVO_SMTP_PORT");
    sink.kill();
    sink.waitForFinished();
}

TEST_F(FeedbackPageTest, FailedMailIsReportedAndTheMessageKept)
{
    qputenv("KAVO_SMTP_PORT", "1");
    host.show();
    content.setPlainText(QStringLiteral("a message that is long enough"));
    QSignalSpy done(page.get(), &FeedbackPage::submitted);
    press();
    ASSERT_TRUE(done.wait(10000));
    EXPECT_FALSE(done.at(0).at(0).toBool());
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].text.substr(0, gbk("提交失败").size()), gbk("提交失败"));
    EXPECT_NE(notifier.notices[0].text.find(gbk("连接指定SMTP邮件服务器")), std::string::npos);
    EXPECT_EQ(content.toPlainText(), QStringLiteral("a message that is long enough"));
    EXPECT_TRUE(submit.isEnabled());
    qunsetenv("KAVO_SMTP_PORT");
}

TEST_F(FeedbackPageTest, ServerThatNeverAnswersIsReportedWithItsReason)
{
    const MuteListener server;
    qputenv("KAVO_SMTP_PORT", QByteArray::number(server.port()));
    host.show();
    content.setPlainText(QStringLiteral("a message that is long enough"));
    QSignalSpy done(page.get(), &FeedbackPage::submitted);
    const int waiting = common::networkPool().activeThreadCount();
    press();
    // The wait runs apart from Qt's own pool, which painting waits for.
    QTRY_COMPARE(common::networkPool().activeThreadCount(), waiting + 1);
    EXPECT_EQ(QThreadPool::globalInstance()->activeThreadCount(), 0);
    EXPECT_FALSE(host.grab().isNull());
    ASSERT_TRUE(done.wait(30000));
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(
        notifier.notices[0].text.substr(0, gbk("提交失败：接收数据超时!").size()), gbk("提交失败：接收数据超时!"));
    EXPECT_EQ(content.toPlainText(), QStringLiteral("a message that is long enough"));
    qunsetenv("KAVO_SMTP_PORT");
}
