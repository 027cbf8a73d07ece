#include "common/iconvstream.h"

#include <cerrno>
#include <iconv.h>
#include <string>
#include <strings.h>

namespace common {

namespace {

class Converter
{
public:
    Converter(const char *fromSet, const char *toSet)
        : m_handle(iconv_open(toSet, fromSet))
    {
    }
    ~Converter()
    {
        if (valid())
            iconv_close(m_handle);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_handle; }

private:
    iconv_t m_handle;
};

// How many input bytes one unreadable or unconvertible character spans: a whole well-formed UTF-8 sequence
// when reading UTF-8 (so one character GBK lacks becomes one replacement), else one byte.
std::size_t skipLength(std::string_view fromSet, const char *in, std::size_t left)
{
    if (::strcasecmp(std::string(fromSet).c_str(), "UTF-8") != 0)
        return 1;
    const auto lead = static_cast<unsigned char>(in[0]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
    if (length > left || lead >= 0xF5)
        return 1;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(in[i]) & 0xC0) != 0x80)
            return 1;
    }
    return length;
}

} // namespace

std::string convertLenient(std::string_view input, const char *fromSet, const char *toSet, std::string_view replacement)
{
    Converter converter(fromSet, toSet);
    if (!converter.valid())
        return {};
    std::string out;
    out.resize(input.size() * 2 + 16);
    char *in = const_cast<char *>(input.data());
    std::size_t inLeft = input.size();
    std::size_t written = 0;
    while (inLeft > 0) {
        char *outPtr = out.data() + written;
        std::size_t outLeft = out.size() - written;
        const std::size_t result = iconv(converter.handle(), &in, &inLeft, &outPtr, &outLeft);
        written = out.size() - outLeft;
        if (result != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL: one unreadable character (or an incomplete tail) becomes the replacement.
        out.replace(written, out.size() - written, replacement);
        written += replacement.size();
        const std::size_t skip = skipLength(fromSet, in, inLeft);
        in += skip;
        inLeft -= skip;
        out.resize(written + inLeft * 2 + 16);
    }
    out.resize(written);
    return out;
}

} // namespace common
