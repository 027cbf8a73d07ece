#pragma once

#include "download/segments.h"

#include <ostream>

// Failures show ranges as "[begin, end)". Every test file that compares ranges includes this, so that all of
// them print alike: a file that did not would make the test program print the raw bytes everywhere.
namespace download {
inline void PrintTo(const ByteRange &range, std::ostream *out)
{
    *out << "[" << range.begin << ", " << range.end << ")";
}
} // namespace download
