#pragma once

#include "feedback/smtpreply.h"

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// The header block and body of an outgoing mail. Pure; thread-safe.
namespace feedback {

struct MailMessage
{
    MailAddress from;
    MailAddress replyTo;
    std::string subject; // GBK
    std::string body; // GBK
    std::vector<MailAddress> to, cc, bcc;
};

// A header text: unchanged when every byte is below 128, else "=?gb2312?B?...?=" encoded words; a text whose
// Base64 would pass 62 characters is halved by bytes (the first half the smaller) and each half encoded the
// same way, the words joined by "\r\n ".
std::string encodeHeaderText(std::string_view gbk);

// "%a, %d %b %Y %H:%M:%S +hhmm" for `when` in local time, English names.
std::string dateHeader(std::time_t when);

// From, To, [Cc,] Subject, Date, [Reply-To,] MIME-Version, Content-type, Content-Transfer-Encoding, empty line.
std::string headerBlock(const MailMessage &message, std::string_view date);

// The body in Base64, "\r\n" after every 76 characters and once more at the end.
std::string bodyBlock(std::string_view body);

} // namespace feedback
