#pragma once

#include <string>
#include <string_view>

namespace common {

// Standard Base64 (RFC 4648) with "=" padding and no line breaks; empty input gives empty text. Pure.
std::string base64Encode(std::string_view bytes);

} // namespace common
