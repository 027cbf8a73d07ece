#include "feedback/mimemessage.h"

#include "common/base64.h"

#include <algorithm>

namespace feedback {

namespace {

constexpr std::string_view Charset = "gb2312";
constexpr std::size_t MaxEncodedLength = 68 - Charset.size();

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 128; });
}

std::string formatAddress(const MailAddress &address)
{
    if (address.name.empty())
        return address.address;
    return encodeHeaderText(address.name) + " <" + address.address + ">";
}

std::string formatList(const std::vector<MailAddress> &list)
{
    std::string out;
    for (const MailAddress &address : list) {
        if (!out.empty())
            out += ",";
        out += formatAddress(address);
    }
    return out;
}

} // namespace

std::string encodeHeaderText(std::string_view gbk)
{
    if (isAscii(gbk))
        return std::string(gbk);
    const std::string encoded = common::base64Encode(gbk);
    if (encoded.size() <= MaxEncodedLength || gbk.size() < 2)
        return "=?" + std::string(Charset) + "?B?" + encoded + "?=";
    const std::size_t half = gbk.size() / 2;
    return encodeHeaderText(gbk.substr(0, half)) + "\r\n " + encodeHeaderText(gbk.substr(half));
}

std::string dateHeader(std::time_t when)
{
    std::tm local{};
    ::localtime_r(&when, &local);
    static constexpr const char *Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char *Months[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", Days[local.tm_wday], local.tm_mday,
        Months[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
        offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

std::string headerBlock(const MailMessage &message, std::string_view date)
{
    std::string block = "From: " + formatAddress(message.from) + "\r\nTo: " + formatList(message.to) + "\r\n";
    if (!message.cc.empty())
        block += "Cc: " + formatList(message.cc) + "\r\n";
    block += "Subject: " + encodeHeaderText(message.subject) + "\r\nDate: " + std::string(date) + "\r\n";
    if (!message.replyTo.address.empty())
        block += "Reply-To: " + formatAddress(message.replyTo) + "\r\n";
    block += "MIME-Version: 1.0\r\nContent-type: text/plain; charset=\"";
    block += isAscii(message.body) ? "us-ascii" : std::string(Charset);
    block += "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    return block;
}

std::string bodyBlock(std::string_view body)
{
    const std::string encoded = common::base64Encode(body);
    std::string out;
    for (std::size_t at = 0; at < encoded.size(); at += 76) {
        out += encoded.substr(at, 76);
        if (at + 76 <= encoded.size())
            out += "\r\n";
    }
    return out + "\r\n";
}

} // namespace feedback
