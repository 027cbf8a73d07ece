#pragma once

#include "download/segments.h"

#include <optional>
#include <sodium.h>
#include <string>
#include <string_view>

namespace download {

// The check that a control record keeps for each finished range: a 128-bit BLAKE2b of its bytes, written as 32
// hex digits. Fed a piece at a time as the range grows; value() may be asked at any moment. Not thread-safe:
// one object per range.
class RangeCheck
{
public:
    RangeCheck();
    void add(std::string_view bytes);
    // The check of everything added so far; adding may go on.
    std::string value() const;

private:
    crypto_generichash_state m_state;
};

// The check of `bytes` at once. Pure.
std::string rangeCheck(std::string_view bytes);

// Reads `range` of the file `fd` and gives its check, ready to take the bytes after it; nothing when the bytes
// cannot be read or their check is not `expected`.
std::optional<RangeCheck> checkOnDisk(int fd, const ByteRange &range, std::string_view expected);

} // namespace download
