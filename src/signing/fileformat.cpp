#include "signing/fileformat.h"

#include <stdexcept>

#include <sodium.h>

namespace signing::format {

bool sodiumStarted()
{
    static const bool started = sodium_init() >= 0;
    return started;
}

void initialiseSodium()
{
    if (!sodiumStarted())
        throw std::runtime_error("libsodium could not be initialised");
}

namespace {

constexpr std::string_view Blanks = " \t";

bool isBlank(std::string_view line)
{
    return line.find_first_not_of(Blanks) == std::string_view::npos;
}

} // namespace

std::optional<std::vector<std::string_view>> splitLines(std::string_view text, std::size_t maxLines)
{
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (lines.size() == maxLines) {
            if (!isBlank(line))
                return std::nullopt;
        } else {
            lines.push_back(line);
        }
        at = end + 1;
    }
    while (!lines.empty() && isBlank(lines.back()))
        lines.pop_back();
    return lines;
}

std::optional<std::string> decodeBase64(std::string_view text, std::size_t expectedBytes)
{
    const std::size_t first = text.find_first_not_of(Blanks);
    text = first == std::string_view::npos ? std::string_view()
                                           : text.substr(first, text.find_last_not_of(Blanks) + 1 - first);
    // Anything longer than the Base64 of the expected bytes cannot be right; this also bounds the work.
    if (text.size() != (expectedBytes + 2) / 3 * 4)
        return std::nullopt;
    std::string bytes(expectedBytes, '\0');
    std::size_t decoded = 0;
    const char *end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(bytes.data()), bytes.size(), text.data(), text.size(),
            nullptr, &decoded, &end, sodium_base64_VARIANT_ORIGINAL)
            != 0
        || end != text.data() + text.size() || decoded != expectedBytes)
        return std::nullopt;
    return bytes;
}

std::string keyIdText(const std::array<unsigned char, 8> &id)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (auto byte = id.rbegin(); byte != id.rend(); ++byte) {
        text += Digits[*byte >> 4];
        text += Digits[*byte & 15];
    }
    return text;
}

Error error(Error::Kind kind, std::string detail)
{
    return Error{kind, std::move(detail)};
}

} // namespace signing::format
