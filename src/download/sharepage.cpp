#include "download/sharepage.h"

#include "common/gbk.h"
#include "common/markers.h"
#include "download/conversions.h"
#include "download/fetch.h"
#include "download/naming.h"

namespace download {

using common::gbk;

ShareFacts parseSharePage(std::string_view page)
{
    ShareFacts facts;
    facts.description = common::extractBetween(page, gbk("<meta content=\"文件名:"), "\" name=\"description\"/>");
    const std::string_view description = facts.description;
    facts.size = common::extractBetween(description, gbk(" 文件大小:"), gbk(" 分享者:"));
    facts.time = common::extractBetween(description, gbk(" 分享时间:"), gbk(" 下载次数:"));
    const std::string countMarker = gbk(" 下载次数:");
    if (const long last = common::findLastText(description, countMarker); last != common::NotFound)
        facts.count = description.substr(static_cast<std::size_t>(last - 1) + countMarker.size());
    if (const long size = common::findText(description, gbk(" 文件大小:")); size != common::NotFound)
        facts.name = description.substr(0, static_cast<std::size_t>(size - 1));
    return facts;
}

std::string statusLineText(const ShareFacts &facts)
{
    return gbk("文件大小：") + facts.size + gbk(" 分享时间；") + facts.time + gbk(" 下载次数；") + facts.count
        + gbk("次");
}

std::string secondPageAddress(std::string_view address)
{
    return common::replaceAll(std::string(address) + "&third=0", "&amp;", "&");
}

std::string unescapeSlashes(std::string_view link)
{
    // Replacing "\\/" by "/" round after round takes two backslashes off a run of them before a "/" each time,
    // until one or none is left: one pass that keeps k % 2 of a run of k gives the same. A backslash that is
    // the second byte of a character belongs to no run.
    std::string out;
    out.reserve(link.size());
    for (std::size_t at = 0; at < link.size();) {
        std::size_t run = 0;
        while (at + run < link.size() && link[at + run] == '\\')
            ++run;
        if (run > 0) {
            const bool beforeSlash = at + run < link.size() && link[at + run] == '/';
            out.append(beforeSlash ? run % 2 : run, '\\');
            at += run;
            continue;
        }
        const std::size_t width = common::charWidth(link, at);
        out.append(link.substr(at, width));
        at += width;
    }
    return out;
}

std::string extractDirectLink(std::string_view page)
{
    return unescapeSlashes(textBetween(page, R"(dlink\":\")", R"(\")"));
}

std::string safeFileName(std::string_view gbkName)
{
    static constexpr std::string_view Refused = "/\\:*?\"<>|";
    std::string name;
    for (std::size_t at = 0; at < gbkName.size();) {
        const auto byte = static_cast<unsigned char>(gbkName[at]);
        const auto trail = at + 1 < gbkName.size() ? static_cast<unsigned char>(gbkName[at + 1]) : 0u;
        // Only a real GBK pair stays whole: a lead byte before a control character or a "/" must not carry it in.
        const std::size_t width = common::isLeadByte(byte) && trail >= 0x40 && trail != 0x7F && trail != 0xFF ? 2 : 1;
        if (width == 2)
            name.append(gbkName.substr(at, 2));
        else if (byte >= 0x80)
            name += '_';
        else if (byte < 0x20 || byte == 0x7F || Refused.find(static_cast<char>(byte)) != std::string_view::npos)
            name += '_';
        else
            name += static_cast<char>(byte);
        at += width;
    }
    name = std::string(common::trimBlanks(name));
    while (!name.empty() && name.back() == '.')
        name.pop_back();
    if (name.size() > 200) {
        // Cut at a character, keeping the extension.
        const std::size_t dot = extensionStart(name);
        const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
        name = std::string(common::truncateChars(name, 200 - extension.size())) + extension;
    }
    if (name.empty() || name.find_first_not_of('.') == std::string::npos)
        return "download";
    return name;
}

ShareResolution resolveShare(std::string_view address, const Fetcher &fetch)
{
    ShareResolution resolution;
    resolution.facts = parseSharePage(DecodePage(fetch(std::string(address))));
    resolution.supported = !resolution.facts.size.empty();
    if (!resolution.supported)
        return resolution;
    resolution.directLink = fetchDirectLink(address, fetch);
    return resolution;
}

std::string fetchDirectLink(std::string_view address, const Fetcher &fetch)
{
    return extractDirectLink(common::untilZero(Utf8ToGb18030(fetch(secondPageAddress(address)))));
}

} // namespace download
