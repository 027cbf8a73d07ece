#pragma once

#include <string>
#include <string_view>
#include <vector>

// The advertisement line that moves one character to the left every step. Pure; thread-safe.
namespace appearance {

// Characters of a GBK text: a byte above 126 opens a two-byte character, any other byte stands alone.
std::vector<std::string> marqueeCharacters(std::string_view text);

// The text shown at step k (1-based, 1 to n): characters k to n, one blank, characters 1 to k - 1.
std::string marqueeFrame(const std::vector<std::string> &characters, std::size_t k);

} // namespace appearance
