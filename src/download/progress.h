#pragma once

#include <cstdint>
#include <string>

// The download progress display: a label and a bar position from the bytes received and the total. Pure.
namespace download {

struct ProgressView
{
    long labelPercent = 0; // whole part of the percentage
    int barPosition = 0; // the percentage rounded to two decimals, then cut to a whole number
};

// While the total is still unknown (0), both are 0. A percentage within `labelTolerance` below a whole number
// shows that number on the label (the update window uses 1e-12).
ProgressView progressView(std::int64_t received, double total, double labelTolerance = 0.0);

} // namespace download
