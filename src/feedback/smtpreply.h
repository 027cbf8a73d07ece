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

// Collects the bytes of one reply as they arrive and tells when it is complete: when the fourth character of
// its last line (the text after the last LF before the last CR) is a blank. Until a CR has arrived no line has
// ended, so a reply is never taken as complete from the first bytes of its line. Each feed costs time in
// proportion to the bytes fed, however the reply is cut into pieces.
class SmtpReplyReader
{
public:
    // Appends `bytes`; returns the code at the start of the last line once the reply is complete.
    std::optional<int> feed(std::string_view bytes);
    const std::string &received() const { return m_received; }

private:
    static constexpr std::size_t None = std::string::npos;
    std::string m_received;
    std::size_t m_lastLf = None;
    std::size_t m_lastCr = None;
    std::size_t m_lfBeforeCr = None; // the last LF before m_lastCr
};

// The lines of a complete reply split into keywords and values.
SmtpReply parseReply(std::string_view received, int code);

struct MailAddress
{
    std::string name; // display name, GBK; may be empty
    std::string address; // may be empty
};

// "name <address>" or a bare address; nothing for a "<" without a ">" after it, or with a ">" before it.
std::optional<MailAddress> parseAddress(std::string_view text);

// Pieces separated by "," or ";"; a piece with an empty address is dropped; nothing when a piece is malformed.
std::optional<std::vector<MailAddress>> parseAddressList(std::string_view text);

} // namespace feedback
