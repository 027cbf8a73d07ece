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
    config.from = fromEnvironment("KAVO_SMTP_FROM", KAVO_SMTP_FROM);
    config.to = fromEnvironment("KAVO_SMTP_TO", KAVO_SMTP_TO);
    return config;
}

std::optional<std::string> validateFeedback(const std::string &gbkName, const std::string &gbkContent)
{
    if (gbkName.empty())
        return gbk("请输入正确的名称!");
    if (gbkContent.empty())
        return gbk("请输入你要反馈的内容!");
    if (gbkContent.size() < 10)
        return gbk("对不起、反馈内容不能小于10个文字!");
    return std::nullopt;
}

std::string feedbackBody(const std::string &gbkName, const std::string &gbkContent)
{
    return gbk("名称：") + gbkName + gbk("\r\n\r\n内容：") + gbkContent;
}

std::string submitFeedback(
    MailSender &sender, const MailConfig &config, const std::string &gbkName, const std::string &gbkContent)
{
    if (!sender.connect(config.host, config.port, config.user, config.password))
        return sender.lastError();
    return sender.send(gbk("反馈信息"), feedbackBody(gbkName, gbkContent), config.to, {}, {}, config.from, {});
}

} // namespace feedback
