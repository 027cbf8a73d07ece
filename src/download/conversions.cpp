#include "download/conversions.h"

#include "common/gbk.h"
#include "common/iconvstream.h"

#include <cerrno>
#include <iconv.h>

namespace download {

namespace {

int hexValue(char c)
{
    static constexpr std::string_view Digits = "0123456789ABCDEF";
    const char upper = c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c;
    const std::size_t index = Digits.find(upper);
    return index == std::string_view::npos ? -1 : static_cast<int>(index);
}

} // namespace

std::string DecodePage(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low < 0) {
            bytes += text[i];
            continue;
        }
        if (const int value = high * 16 + low; value != 0)
            bytes += static_cast<char>(value);
        i += 2;
    }
    return std::string(common::untilZero(ConvertCharset(bytes, "utf-8", "GBK")));
}

std::string ConvertCharset(std::string_view bytes, std::string_view sourceSet, std::string_view targetSet)
{
    const std::string source(sourceSet);
    const std::string target(targetSet);
    return common::convertLenient(bytes, source.c_str(), target.c_str(), "?");
}

std::string Utf8ToGb18030(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    const iconv_t converter = iconv_open("GB18030", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return {};
    std::string out(bytes.size(), '\0');
    char *in = const_cast<char *>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t written = 0;
    bool complete = false;
    for (int attempt = 1; attempt <= 12; ++attempt) {
        char *outPtr = out.data() + written;
        std::size_t outLeft = out.size() - written;
        const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        written = out.size() - outLeft;
        if (result != static_cast<std::size_t>(-1)) {
            complete = true;
            break;
        }
        if (errno != E2BIG)
            break;
        out.resize(out.size() + bytes.size() / 2 + 128);
    }
    iconv_close(converter);
    if (!complete)
        return {};
    out.resize(written);
    return out;
}

} // namespace download
