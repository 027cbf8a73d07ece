#include "feedback/feedback.h"

#include "common/gbk.h"
#include "feedback/mailsender.h"

#include <cstdlib>

namespace feedback {

using common::gbk;

namespace {

std::string fromEnvironment(const char *name, const char *compiled)
{
    const char *value = std::getenv(name);
    return value && *value ? value : compiled;
}

} // namespace

MailConfig mailConfig()
{
    MailConfig config;
    config.host = fromEnvironment("KAVO_SMTP_HOST", KAVO_SMTP_HOST);
    config.port = std::atoi(fromEnvironment("KAVO_SMTP_PORT", KAVO_SMTP_PORT).c_str());
    config.user = fromEnvironment("KAVO_SMTP_USER", KAVO_SMTP_USER);
    config.password = fromEnvironment("KAVO_SMTP_PASSWORD", KAVO_SMTP_PASSWORD);
    config.from = common::gbkFromUtf8(fromEnvironment("KAVO_SMTP_FROM", KAVO_SMTP_FROM));
    config.to = common::gbkFromUtf8(fromEnvironment("KAVO_SMTP_TO", KAVO_SMTP_TO));
    return config;
}

std::string withCrLf(std::string_view gbkContent)
{
    // Neither CR nor LF can be the second byte of a GBK character, so bytes can be looked at one by one.
    std::string out;
    out.reserve(gbkContent.size());
    for (std::size_t at = 0; at < gbkContent.size(); ++at) {
        const char c = gbkContent[at];
        if (c != '\r' && c != '\n') {
            out += c;
            continue;
        }
        out += "\r\n";
        if (c == '\r' && at + 1 < gbkContent.size() && gbkContent[at + 1] == '\n')
            ++at;
    }
    return out;
}

std::optional<std::string> validateFeedback(const std::string &gbkName, const std::string &gbkContent)
{
    if (gbkName.empty())
        return gbk("请输入正确的名称!");
    if (gbkContent.empty())
        return gbk("请输入你要反馈的内容!");
    if (withCrLf(gbkContent).size() < 10)
        return gbk("对不起、反馈内容不能小于10个文字!");
    return std::nullopt;
}

std::string feedbackBody(const std::string &gbkName, const std::string &gbkContent)
{
    return gbk("名称：") + gbkName + gbk("\r\n\r\n内容：") + withCrLf(gbkContent);
}

common::Result<void, MailError> submitFeedback(
    MailSender &sender, const MailConfig &config, const std::string &gbkName, const std::string &gbkContent)
{
    if (const auto connected = sender.connect(config.host, config.port, config.user, config.password);
        !connected.has_value())
        return connected;
    return sender.send(gbk("反馈信息"), feedbackBody(gbkName, gbkContent), config.to, {}, {}, config.from, {});
}

} // namespace feedback
