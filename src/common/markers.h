#pragma once

#include <string>
#include <string_view>

namespace common {

// Marker extraction: the text between the first occurrence of `startMarker` (searched from the 1-based
// `startPosition`, 0 meaning 1) and the next occurrence of `endMarker` after it; empty text when either is
// missing. "#引号" in a marker stands for a double quote. ASCII letter case is ignored unless `caseSensitive`.
// The end marker is searched in the rest after the start marker from the same `startPosition`, counted
// within that rest. Matches begin only on character boundaries. Pure; thread-safe.
std::string extractBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
    long startPosition = 0, bool caseSensitive = false);

// The same, as a view into `text`.
std::string_view extractView(std::string_view text, std::string_view startMarker, std::string_view endMarker,
    long startPosition = 0, bool caseSensitive = false);

} // namespace common
