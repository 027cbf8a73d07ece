#pragma once

#include "common/result.h"

#include <QObject>
#include <memory>

class QPlainTextEdit;
class QLineEdit;
class QPushButton;
class QThreadPool;

namespace appearance {
class Notifier;
}

namespace feedback {

class MailSender;
struct MailError;

// The feedback page: validates the name and message, mails them to the author off the UI thread and tells
// the user the outcome. The message is cleared only once the server has accepted the mail. The mail goes out on
// `pool`, which must outlive its tasks. UI thread only.
class FeedbackPage : public QObject
{
    Q_OBJECT

public:
    struct Controls
    {
        QLineEdit *nameBox = nullptr; // 编辑框1
        QPlainTextEdit *contentBox = nullptr; // 编辑框2
        QPushButton *submitButton = nullptr; // 按钮1
    };

    FeedbackPage(Controls controls, std::shared_ptr<MailSender> sender, QThreadPool &pool,
        appearance::Notifier &notifier, QObject *parent = nullptr);

signals:
    // A submission has ended; `accepted` tells whether the server took the mail.
    void submitted(bool accepted);

private:
    void submit();
    void onSent(const common::Result<void, MailError> &sent);

    Controls m_controls;
    std::shared_ptr<MailSender> m_sender;
    QThreadPool &m_pool;
    appearance::Notifier &m_notifier;
};

} // namespace feedback
