#include "download/naming.h"

#include <cctype>

namespace download {

std::string nextName(std::string_view fileName)
{
    const std::size_t dot = fileName.find('.');
    std::string_view stem = fileName.substr(0, dot);
    const std::string_view rest = dot == std::string_view::npos ? std::string_view() : fileName.substr(dot);
    long counter = 0;
    if (stem.size() >= 3 && stem.back() == ')') {
        const std::size_t open = stem.rfind('(');
        const std::string_view digits
            = open == std::string_view::npos ? std::string_view() : stem.substr(open + 1, stem.size() - open - 2);
        const bool numeric
            = !digits.empty() && digits.size() <= 6 && digits.find_first_not_of("0123456789") == std::string_view::npos;
        if (numeric) {
            counter = std::stol(std::string(digits));
            stem = stem.substr(0, open);
        }
    }
    return std::string(stem) + "(" + std::to_string(counter + 1) + ")" + std::string(rest);
}

std::optional<std::string> firstFreeName(
    std::string_view fileName, const std::function<bool(const std::string &)> &taken)
{
    std::string name(fileName);
    for (int attempt = 0; attempt <= 99; ++attempt) {
        if (!taken(name))
            return name;
        name = nextName(name);
    }
    return std::nullopt;
}

std::size_t extensionStart(std::string_view fileName)
{
    const std::size_t dot = fileName.rfind('.');
    return dot != std::string_view::npos && dot > 0 && fileName.size() - dot <= 16 ? dot : std::string_view::npos;
}

std::string fitName(std::string_view fileName, std::size_t maxBytes)
{
    if (fileName.size() <= maxBytes)
        return std::string(fileName);
    const std::size_t dot = extensionStart(fileName);
    const std::string_view extension = dot == std::string_view::npos ? std::string_view() : fileName.substr(dot);
    if (extension.size() >= maxBytes)
        return {};
    std::size_t cut = maxBytes - extension.size();
    // A UTF-8 continuation byte (10xxxxxx) never starts a character.
    while (cut > 0 && (static_cast<unsigned char>(fileName[cut]) & 0xC0) == 0x80)
        --cut;
    if (cut == 0)
        return {};
    return std::string(fileName.substr(0, cut)) + std::string(extension);
}

} // namespace download
