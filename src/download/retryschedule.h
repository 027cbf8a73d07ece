#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace download {

// When a failed attempt is tried again: the wait grows from `base` (doubling with each failure in a row) up to
// `cap`, and the actual wait is drawn at random between none and that ("full jitter"), so that many clients
// that failed together do not come back together. A wait the server asked for (Retry-After) is a floor.
// Not thread-safe.
class RetrySchedule
{
public:
    // Gives a number in [0, 1); the default draws from a generator seeded once from the system.
    using Random = std::function<double()>;
    static constexpr std::chrono::milliseconds DefaultCap = std::chrono::seconds(60);

    explicit RetrySchedule(
        std::chrono::milliseconds base, std::chrono::milliseconds cap = DefaultCap, Random random = {});

    // The wait before attempt number `failures` + 1, after `failures` (>= 1) failures in a row.
    std::chrono::milliseconds delay(int failures, std::chrono::milliseconds floor = {}) const;

private:
    std::chrono::milliseconds m_base;
    std::chrono::milliseconds m_cap;
    Random m_random;
};

// The wait a Retry-After value asks for: seconds, or an HTTP date (a date in the past asks for none); at most
// 5 minutes, so that a server cannot park a download for ever. Nothing for anything else. Pure.
std::optional<std::chrono::milliseconds> parseRetryAfter(
    std::string_view value, std::chrono::system_clock::time_point now);

} // namespace download
