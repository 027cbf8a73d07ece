#include "appearance/marquee.h"

namespace appearance {

std::vector<std::string> marqueeCharacters(std::string_view text)
{
    std::vector<std::string> characters;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t width = static_cast<unsigned char>(text[at]) > 126 && at + 1 < text.size() ? 2 : 1;
        characters.emplace_back(text.substr(at, width));
        at += width;
    }
    return characters;
}

std::string marqueeFrame(const std::vector<std::string> &characters, std::size_t k)
{
    std::string frame;
    for (std::size_t i = k; i <= characters.size(); ++i)
        frame += characters[i - 1];
    frame += ' ';
    for (std::size_t i = 1; i < k && i <= characters.size(); ++i)
        frame += characters[i - 1];
    return frame;
}

} // namespace appearance
