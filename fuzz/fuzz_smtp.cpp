// SMTP replies and mail addresses of any bytes, and the mail built from them, never crash; a reply read in
// pieces gives the same answer as the whole reply.
#include "feedback/mimemessage.h"
#include "feedback/smtpreply.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const auto whole = feedback::SmtpReplyReader().feed(bytes);
    if (whole)
        feedback::parseReply(bytes, *whole);
    feedback::parseReply(bytes, -1);
    // Cut where the bytes themselves say: after every byte below 16.
    feedback::SmtpReplyReader pieces;
    std::optional<int> last;
    for (std::size_t at = 0, start = 0; at <= size; ++at) {
        if (at == size || data[at] < 16) {
            const std::size_t end = at == size ? size : at + 1;
            last = pieces.feed(std::string_view(bytes).substr(start, end - start));
            start = end;
        }
    }
    if (last != whole)
        __builtin_trap();
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
