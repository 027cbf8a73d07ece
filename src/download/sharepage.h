#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Reading a netdisk share page: the file's facts from its description element and the direct download link
// from its "&third=0" twin. Texts are GBK. Pure, except resolveShare which fetches through the given function.
namespace download {

struct ShareFacts
{
    std::string description; // NAME 文件大小:SIZE 分享者:... 分享时间:TIME 下载次数:COUNT
    std::string name;
    std::string size;
    std::string time;
    std::string count;
};

// The share address is accepted when it has at least this many bytes.
constexpr std::size_t MinShareAddressBytes = 50;

// The facts of a decoded first page (markers of the description element in any letter case).
ShareFacts parseSharePage(std::string_view page);

// "文件大小：" SIZE " 分享时间；" TIME " 下载次数；" COUNT "次"
std::string statusLineText(const ShareFacts &facts);

// The address of the second page: "&third=0" appended, then every "&amp;" made "&".
std::string secondPageAddress(std::string_view address);

// Every "\\/" made "/" until none is left, as repeated left-to-right replacement on character boundaries
// gives, in one pass.
std::string unescapeSlashes(std::string_view link);

// The direct link of a second page: the text between the first `dlink\":\"` and the next `\"` after it (both
// literal and case-sensitive), with every `\\/` made "/" until none is left. Empty when a marker is missing.
std::string extractDirectLink(std::string_view page);

// The direct link behind the share page at `address`: its "&third=0" twin fetched, made GBK (Utf8ToGb18030)
// and read by extractDirectLink. Empty when there is none.
using Fetcher = std::function<std::string(const std::string &url)>;
std::string fetchDirectLink(std::string_view address, const Fetcher &fetch);

// A name from a web page made safe as one file name inside the chosen folder: no path separators, no control
// characters, nothing the file systems refuse, not "." or "..", not empty, at most 200 bytes (a longer name is
// cut at a character and keeps its extension; the download fits it to the file system's own limit).
std::string safeFileName(std::string_view gbkName);

struct ShareResolution
{
    ShareFacts facts; // empty fields for an unreachable page or one without the description
    bool supported = false; // the facts carry a size; only then is the second page read
    std::string directLink; // empty when the second page has none
};

// The first page (through DecodePage), the facts, then the second page (through Utf8ToGb18030) and its direct
// link. `fetch` is FetchUrl in the program and a fake in tests.
ShareResolution resolveShare(std::string_view address, const Fetcher &fetch);

} // namespace download
