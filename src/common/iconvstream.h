#pragma once

#include <string>
#include <string_view>

namespace common {

// Converts `input` between two iconv character sets. A byte sequence that cannot be read, or a character that
// the target cannot hold, is replaced by `replacement` (already in the target set) and the conversion goes on,
// one input byte further. Used at the program's borders, where some text must always come out.
// Thread-safe: every call opens its own converter.
std::string convertLenient(
    std::string_view input, const char *fromSet, const char *toSet, std::string_view replacement);

} // namespace common
