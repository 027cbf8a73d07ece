#include "feedback/ui/feedbackpage.h"

#include "appearance/notifier.h"
#include "common/gbk.h"
#include "common/qtext.h"
#include "common/relay.h"
#include "feedback/feedback.h"
#include "feedback/mailsender.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtConcurrent/QtConcurrentRun>

namespace feedback {

namespace {

const QString SubmitCaption = QStringLiteral("提交反馈信息");

} // namespace

FeedbackPage::FeedbackPage(Controls controls, std::shared_ptr<MailSender> sender, QThreadPool &pool,
    appearance::Notifier &notifier, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_sender(std::move(sender))
    , m_pool(pool)
    , m_notifier(notifier)
{
    m_controls.submitButton->setText(SubmitCaption);
    connect(m_controls.submitButton, &QPushButton::clicked, this, &FeedbackPage::submit);
}

void FeedbackPage::submit()
{
    const std::string name = common::fromQString(m_controls.nameBox->text());
    const std::string content = common::fromQString(m_controls.contentBox->toPlainText());
    if (const auto refusal = validateFeedback(name, content)) {
        m_notifier.showMessage(*refusal, true);
        return;
    }
    // One submission at a time; the window keeps painting while the mail goes out.
    m_controls.submitButton->setText(QStringLiteral("正在提交"));
    m_controls.submitButton->setEnabled(false);
    const common::Relay<FeedbackPage> relay(this);
    // Off Qt's own pool, which painting waits for: a silent mail server must not freeze the windows.
    (void)QtConcurrent::run(&m_pool, [relay, sender = m_sender, name, content] {
        relay.post(
            [sent = submitFeedback(*sender, mailConfig(), name, content)](FeedbackPage &page) { page.onSent(sent); });
    });
}

void FeedbackPage::onSent(const common::Result<void, MailError> &sent)
{
    m_controls.submitButton->setText(SubmitCaption);
    m_controls.submitButton->setEnabled(true);
    if (sent.has_value()) {
        m_notifier.showMessage(common::gbk("你提交的信息已经受理，如有问题请直接联系QQ500600700"), true);
        m_controls.contentBox->clear();
    } else {
        m_notifier.showMessage(
            common::gbk("提交失败：") + sent.error().text + common::gbk(" 你的内容已保留，请稍后再试。"), true);
    }
    emit submitted(sent.has_value());
}

} // namespace feedback
