#include "feedback/smtpreply.h"

#include "common/gbk.h"

#include <cstdlib>

namespace feedback {

std::optional<int> SmtpReplyReader::feed(std::string_view bytes)
{
    // Only the new bytes are looked at: the positions of the last line breaks say where the last line lies.
    for (std::size_t at = m_received.size(); const char c : bytes) {
        if (c == '\n') {
            m_lastLf = at;
        } else if (c == '\r') {
            m_lastCr = at;
            m_lfBeforeCr = m_lastLf;
        }
        ++at;
    }
    m_received.append(bytes);
    // A line goes on until its CR: "220 " may be the start of "220 mx1 ESMTP\r\n".
    if (m_lastCr == None)
        return std::nullopt;
    const std::size_t start = m_lfBeforeCr == None ? 0 : m_lfBeforeCr + 1;
    const std::string_view line = std::string_view(m_received).substr(start, m_lastCr - start);
    if (line.size() < 4 || line[3] != ' ')
        return std::nullopt;
    return std::atoi(std::string(line.substr(0, 3)).c_str());
}

SmtpReply parseReply(std::string_view received, int code)
{
    SmtpReply reply;
    reply.code = code;
    std::size_t at = 0;
    while (at < received.size()) {
        const std::size_t cr = received.find('\r', at);
        std::string_view line = received.substr(at, cr == std::string_view::npos ? std::string_view::npos : cr - at);
        at = cr == std::string_view::npos ? received.size() : cr + 1;
        if (at < received.size() && received[at] == '\n')
            ++at;
        if (!line.empty() && line.front() == '\n')
            line.remove_prefix(1);
        if (line.size() <= 4)
            continue;
        while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32)
            line.remove_suffix(1);
        std::string_view rest = line.size() > 4 ? line.substr(4) : std::string_view();
        while (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        const std::size_t blank = rest.find(' ');
        std::string_view value = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
        while (!value.empty() && value.front() == ' ')
            value.remove_prefix(1);
        reply.keywords.emplace_back(blank == std::string_view::npos ? rest : rest.substr(0, blank));
        reply.values.emplace_back(value);
    }
    if (reply.keywords.empty())
        reply.lastError = std::string(received);
    else if (reply.values.back().empty())
        reply.lastError = reply.keywords.back();
    else
        reply.lastError = reply.keywords.back() + " " + reply.values.back();
    return reply;
}

std::optional<MailAddress> parseAddress(std::string_view text)
{
    const std::size_t open = text.find('<');
    if (open == std::string_view::npos)
        return MailAddress{{}, std::string(common::trimBlanks(text))};
    const std::size_t close = text.find('>');
    if (close == std::string_view::npos || close < open)
        return std::nullopt;
    return MailAddress{std::string(common::trimBlanks(text.substr(0, open))),
        std::string(common::trimBlanks(text.substr(open + 1, close - open - 1)))};
}

std::optional<std::vector<MailAddress>> parseAddressList(std::string_view text)
{
    std::vector<MailAddress> list;
    std::size_t at = 0;
    while (at <= text.size() && !text.empty()) {
        const std::size_t end = text.find_first_of(",;", at);
        const auto address
            = parseAddress(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (!address)
            return std::nullopt;
        if (!address->address.empty())
            list.push_back(*address);
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    return list;
}

} // namespace feedback
