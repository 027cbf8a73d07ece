// SMTP replies and mail addresses of any bytes, and the mail built from them, never crash.
#include "feedback/mimemessage.h"
#include "feedback/smtpreply.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    if (const auto code = feedback::completeReplyCode(bytes))
        feedback::parseReply(bytes, *code);
    feedback::parseReply(bytes, -1);
    feedback::MailMessage message;
    if (const auto list = feedback::parseAddressList(bytes))
        message.to = *list;
    if (const auto from = feedback::parseAddress(bytes))
        message.from = *from;
    message.subject = bytes;
    message.body = bytes;
    feedback::headerBlock(message, "D");
    feedback::bodyBlock(bytes);
    return 0;
}
