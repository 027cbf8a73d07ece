#pragma once

#include <optional>
#include <string>

// The feedback page's logic: validation, the mail body and the account it is sent with.
namespace feedback {

class MailSender;

struct MailConfig
{
    std::string host;
    int port = 25;
    std::string user;
    std::string password;
    std::string from; // sender mailbox
    std::string to; // author mailbox
};

// The compiled-in account, each value overridden by KAVO_SMTP_HOST, KAVO_SMTP_PORT, KAVO_SMTP_USER,
// KAVO_SMTP_PASSWORD, KAVO_SMTP_FROM and KAVO_SMTP_TO when set. Thread-safe.
MailConfig mailConfig();

// The notice for a name or content that cannot be sent (GBK), or nothing when both are fine: a name is needed,
// content is needed, and content shorter than 10 GBK bytes is refused. Pure.
std::optional<std::string> validateFeedback(const std::string &gbkName, const std::string &gbkContent);

// "名称：" NAME "\r\n\r\n内容：" CONTENT. Pure.
std::string feedbackBody(const std::string &gbkName, const std::string &gbkContent);

// Connects and sends the feedback mail with subject "反馈信息". Returns the empty text when the server accepted
// it, else the sender's failure text (GBK). Blocks for the whole exchange.
std::string submitFeedback(
    MailSender &sender, const MailConfig &config, const std::string &gbkName, const std::string &gbkContent);

} // namespace feedback
