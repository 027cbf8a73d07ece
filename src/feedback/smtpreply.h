#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// SMTP replies and addresses as the mail sender reads them. Pure; they accept any bytes.
namespace feedback {

struct SmtpReply
{
    int code = -1;
    std::vector<std::string> keywords; // per line: the first word after the code
    std::vector<std::string> values; // per line: the rest of the line
    std::string lastError; // the last line's keyword and value, or the raw text
};

// The code of a complete reply in `received`, or nothing while more must be read: the reply is complete when
// the fourth character of its last line (the text after the last LF before the last CR) is a blank.
std::optional<int> completeReplyCode(std::string_view received);

// The lines of a complete reply split into keywords and values.
SmtpReply parseReply(std::string_view received, int code);

struct MailAddress
{
    std::string name; // display name, GBK; may be empty
    std::string address; // may be empty
};

// "name <address>" or a bare address; nothing for a "<" without a ">" after it.
std::optional<MailAddress> parseAddress(std::string_view text);

// Pieces separated by "," or ";"; a piece with an empty address is dropped; nothing when a piece is malformed.
std::optional<std::vector<MailAddress>> parseAddressList(std::string_view text);

} // namespace feedback
