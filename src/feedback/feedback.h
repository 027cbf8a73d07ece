#pragma once

#include "common/result.h"

#include <optional>
#include <string>
#include <string_view>

// The feedback page's logic: validation, the mail body and the account it is sent with.
namespace feedback {

class MailSender;
struct MailError;

struct MailConfig
{
    std::string host;
    int port = 25;
    std::string user;
    std::string password;
    std::string from; // sender mailbox, GBK
    std::string to; // author mailbox, GBK
};

// The compiled-in account, each value overridden by KAVO_SMTP_HOST, KAVO_SMTP_PORT, KAVO_SMTP_USER,
// KAVO_SMTP_PASSWORD, KAVO_SMTP_FROM and KAVO_SMTP_TO when set. The mailboxes are UTF-8 there and GBK here, so
// their display names are sent readable. Thread-safe.
MailConfig mailConfig();

// `content` with every line break (LF, CR or CR LF) written as CR LF, as the mail carries it. Pure.
std::string withCrLf(std::string_view gbkContent);

// The notice for a name or content that cannot be sent (GBK), or nothing when both are fine: a name is needed,
// content is needed, and content shorter than 10 GBK bytes is refused, a line break counting as CR LF. Pure.
std::optional<std::string> validateFeedback(const std::string &gbkName, const std::string &gbkContent);

// "名称：" NAME "\r\n\r\n内容：" CONTENT, line breaks of the content as CR LF. Pure.
std::string feedbackBody(const std::string &gbkName, const std::string &gbkContent);

// Connects and sends the feedback mail with subject "反馈信息". Fails with the sender's reason when the server
// did not accept it. Blocks for the whole exchange, within the sender's limits.
common::Result<void, MailError> submitFeedback(
    MailSender &sender, const MailConfig &config, const std::string &gbkName, const std::string &gbkContent);

} // namespace feedback
