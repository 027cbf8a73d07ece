#include "download/retryschedule.h"

#include "download/httpanswer.h"

#include <algorithm>
#include <curl/curl.h>
#include <memory>
#include <random>
#include <string>

namespace download {

namespace {

constexpr std::chrono::milliseconds LongestAsked = std::chrono::minutes(5);

RetrySchedule::Random systemRandom()
{
    auto generator = std::make_shared<std::mt19937_64>(std::random_device{}());
    return [generator] { return std::uniform_real_distribution<double>(0.0, 1.0)(*generator); };
}

} // namespace

RetrySchedule::RetrySchedule(std::chrono::milliseconds base, std::chrono::milliseconds cap, Random random)
    : m_base(std::max(base, std::chrono::milliseconds(0)))
    , m_cap(std::max(cap, m_base))
    , m_random(random ? std::move(random) : systemRandom())
{
}

std::chrono::milliseconds RetrySchedule::delay(int failures, std::chrono::milliseconds floor) const
{
    std::chrono::milliseconds ceiling = m_base;
    for (int i = 1; i < failures && ceiling < m_cap; ++i)
        ceiling *= 2;
    ceiling = std::min(ceiling, m_cap);
    const double drawn = std::clamp(m_random(), 0.0, 1.0);
    const auto jittered
        = std::chrono::milliseconds(static_cast<std::int64_t>(drawn * static_cast<double>(ceiling.count())));
    return std::max(jittered, floor);
}

std::optional<std::chrono::milliseconds> parseRetryAfter(
    std::string_view value, std::chrono::system_clock::time_point now)
{
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (const auto seconds = parseNumber(value))
        return std::min<std::chrono::milliseconds>(
            std::chrono::seconds(std::min<std::int64_t>(*seconds, 3600)), LongestAsked);
    const std::string text(value.substr(0, 64));
    const time_t when = curl_getdate(text.c_str(), nullptr);
    if (when == -1 || value.size() > 64)
        return std::nullopt;
    const auto wait
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::from_time_t(when) - now);
    return std::clamp(wait, std::chrono::milliseconds(0), LongestAsked);
}

} // namespace download
