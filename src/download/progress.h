#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

// The download progress display: a label and a bar position from the bytes received and the total, and the
// speed and time left beside them. Pure, except SpeedMeter, which one thread owns.
namespace download {

struct ProgressView
{
    long labelPercent = 0; // whole part of the percentage
    int barPosition = 0; // the percentage rounded to two decimals, then cut to a whole number
};

// While the total is still unknown (0), both are 0. A percentage within `labelTolerance` below a whole number
// shows that number on the label (the update window uses 1e-12).
ProgressView progressView(std::int64_t received, double total, double labelTolerance = 0.0);

// The speed over the last few seconds of samples (received bytes at a time). A count that goes down (a task
// that started over) restarts the measure.
class SpeedMeter
{
public:
    using Clock = std::chrono::steady_clock;
    explicit SpeedMeter(std::chrono::milliseconds window = std::chrono::seconds(3));

    void add(Clock::time_point at, std::int64_t received);
    // Bytes per second; 0 until two samples lie at least 100 ms apart.
    double bytesPerSecond() const;

private:
    struct Sample
    {
        Clock::time_point at;
        std::int64_t received;
    };
    std::chrono::milliseconds m_window;
    std::deque<Sample> m_samples;
};

// Whole seconds until `total` arrives at `bytesPerSecond`; nothing while the total or the speed is unknown.
std::optional<std::int64_t> secondsLeft(std::int64_t received, double total, double bytesPerSecond);

// "512B", "12.3KiB", "4.0MiB", "1.2GiB": one decimal from KiB on, as download tools show sizes.
std::string formatBytes(double bytes);
// A rate as the command line gives it: bytes per second, with K (1024) or M (1024 * 1024) after the number.
// Nothing for anything else, for 0 and for rates past 1 TiB/s. Pure.
std::optional<std::int64_t> parseRate(std::string_view text);
// formatBytes(...) + "/s".
std::string formatSpeed(double bytesPerSecond);
// "0:01:05" (hours without limit), or "--:--:--" for nothing.
std::string formatTimeLeft(std::optional<std::int64_t> seconds);

// The tool window's tooltip on its progress bar, GBK: "速度 1.2MiB/s，剩余时间 0:00:37".
std::string progressTip(double bytesPerSecond, std::optional<std::int64_t> seconds);

} // namespace download
