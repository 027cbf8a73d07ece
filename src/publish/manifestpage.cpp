#include "publish/manifestpage.h"

#include "common/gbk.h"
#include "update/manifest.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace publish {

using common::gbk;
using common::utf8FromGbk;

namespace {

constexpr std::size_t npos = std::string_view::npos;

// A field as the manifest read finds it: the label, the value, and the "-" that ends it. UTF-8.
std::string field(const std::string &gbkLabel, const std::string &gbkValue)
{
    return utf8FromGbk(gbkLabel + gbkValue) + "-";
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// What a category name keeps in its address: ASCII letters, digits, "." "_" and "~". A "-" is escaped too: the
// manifest read would end the address at it.
bool isPlain(unsigned char byte)
{
    const char c = static_cast<char>(byte);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || c == '.' || c == '_' || c == '~';
}

// Every byte that `plain` does not keep, as %XX.
std::string percentEncoded(std::string_view utf8, bool (*plain)(unsigned char) = isPlain)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (plain(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += Digits[byte >> 4];
            encoded += Digits[byte & 0xF];
        }
    }
    return encoded;
}

std::string replaceEvery(std::string text, std::string_view from, std::string_view to)
{
    for (std::size_t at = text.find(from); at != npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// What keeps a template from being a web address the program can fetch: the scheme, blanks and control
// characters, and characters beyond ASCII, which the program would put on the wire as GBK bytes.
std::optional<Flaw> templateFlaw(std::string_view addressTemplate)
{
    const auto startsWith = [addressTemplate](std::string_view scheme) {
        return addressTemplate.size() >= scheme.size()
            && std::equal(scheme.begin(), scheme.end(), addressTemplate.begin(),
                [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    };
    if (!startsWith("http://") && !startsWith("https://"))
        return Flaw{Flaw::Kind::NotHttp, "不是以 http:// 或 https:// 开头，程序只下载这两种地址",
            "写出完整的地址，例如 http://example.com/lists/{category}.txt"};
    const auto control = std::find_if(addressTemplate.begin(), addressTemplate.end(),
        [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; });
    if (control != addressTemplate.end())
        return Flaw{
            Flaw::Kind::BlankInAddress, "含有空格或控制字符，地址会在这里断开", "空格写成 %20，不要有制表符或换行"};
    const auto wide = std::find_if(
        addressTemplate.begin(), addressTemplate.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (wide != addressTemplate.end())
        return Flaw{Flaw::Kind::NonAsciiInAddress, "含有 ASCII 以外的字符，程序会把它们按 GBK 字节发出",
            "把它们写成 UTF-8 的百分号编码（主机名写成 xn-- 形式）："
                + percentEncoded(addressTemplate, [](unsigned char byte) { return byte < 0x80; })};
    return std::nullopt;
}

} // namespace

std::string manifestPage(const ManifestContent &content)
{
    std::string page = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>KAVO 更新</title>\n"
                       "</head>\n<body>\n<ul>\n";
    for (const int number : update::checkOrder()) {
        const ManifestEntry &entry = content.entries[static_cast<std::size_t>(number - 1)];
        page += "<li>" + field(update::flagLabel(number), gbk(entry.flag ? "是" : "否")) + "</li>\n";
        page += "<li>" + field(update::versionLabel(number), entry.version) + "</li>\n";
        page += "<li>" + field(update::addressLabel(number), common::replaceAll(entry.address, "&", "&amp;"))
            + "</li>\n";
        if (!entry.size.empty())
            page += "<li>" + field(update::sizeLabel(number), entry.size) + "</li>\n";
        if (!entry.sha256.empty())
            page += "<li>" + field(update::checksumLabel(number), entry.sha256) + "</li>\n";
    }
    page += "</ul>\n<pre>" + field(update::noticeLabel(), content.notice) + "</pre>\n";
    page += "<p>" + field(update::advertisementLabel(), content.advertisement) + "</p>\n</body>\n</html>\n";
    return page;
}

ManifestContent readManifest(const std::string &page)
{
    const auto read = [&page](const std::string &label) {
        return update::readManifestField([&page](const std::string &) { return page; }, std::string(), label);
    };
    ManifestContent content;
    for (const catalog::Category &category : catalog::categories()) {
        ManifestEntry &entry = content.entries[static_cast<std::size_t>(category.number - 1)];
        entry.flag = read(update::flagLabel(category.number)) == gbk("是");
        entry.version = read(update::versionLabel(category.number));
        entry.address = common::replaceAll(read(update::addressLabel(category.number)), "&amp;", "&");
        entry.size = read(update::sizeLabel(category.number));
        entry.sha256 = read(update::checksumLabel(category.number));
    }
    content.notice = read(update::noticeLabel());
    content.advertisement = read(update::advertisementLabel());
    return content;
}

std::string nextVersion(std::string_view version)
{
    std::string next(version);
    const std::size_t last = next.find_last_of("0123456789");
    if (last == npos)
        return next + ".1";
    std::size_t at = last + 1;
    for (; at > 0 && isDigit(next[at - 1]); --at) {
        if (next[at - 1] != '9') {
            ++next[at - 1];
            return next;
        }
        next[at - 1] = '0';
    }
    next.insert(at, "1");
    return next;
}

common::Result<std::string, Flaw> listAddress(std::string_view addressTemplate, const catalog::Category &category)
{
    constexpr std::string_view Placeholder = "{category}";
    if (addressTemplate.find(Placeholder) == npos)
        return common::unexpected(Flaw{Flaw::Kind::NoCategoryPlaceholder, "没有 \"{category}\"，五个列表会共用一个地址",
            "在列表名的位置写上 {category}，例如 http://example.com/lists/{category}.txt"});
    if (std::optional<Flaw> flaw = templateFlaw(addressTemplate))
        return common::unexpected(std::move(*flaw));
    const std::string address
        = replaceEvery(std::string(addressTemplate), Placeholder, percentEncoded(utf8FromGbk(category.name)));
    if (const std::size_t hyphen = address.find('-'); hyphen != npos)
        return common::unexpected(Flaw{Flaw::Kind::HyphenInAddress,
            "含有 \"-\"，程序会在这里结束地址，读成 \"" + address.substr(0, hyphen) + "\"",
            "在路径或查询部分写成 %2D；主机名中不能有 \"-\""});
    return gbkFromSource(address);
}

} // namespace publish
