#include "download/progress.h"

#include "common/gbk.h"

#include <cmath>
#include <cstdio>

namespace download {

ProgressView progressView(std::int64_t received, double total, double labelTolerance)
{
    const double percent = static_cast<double>(received) / total * 100.0;
    if (!std::isfinite(percent))
        return {};
    const double rounded = std::round(percent * 100.0) / 100.0;
    return {static_cast<long>(std::floor(percent + labelTolerance)), static_cast<int>(std::trunc(rounded))};
}

SpeedMeter::SpeedMeter(std::chrono::milliseconds window)
    : m_window(window)
{
}

void SpeedMeter::add(Clock::time_point at, std::int64_t received)
{
    if (!m_samples.empty() && received < m_samples.back().received)
        m_samples.clear();
    m_samples.push_back({at, received});
    while (m_samples.size() > 2 && at - m_samples[1].at >= m_window)
        m_samples.pop_front();
}

double SpeedMeter::bytesPerSecond() const
{
    if (m_samples.size() < 2)
        return 0;
    const std::chrono::duration<double> span = m_samples.back().at - m_samples.front().at;
    if (span < std::chrono::milliseconds(100))
        return 0;
    return static_cast<double>(m_samples.back().received - m_samples.front().received) / span.count();
}

std::optional<std::int64_t> secondsLeft(std::int64_t received, double total, double bytesPerSecond)
{
    if (!(total > 0) || !(bytesPerSecond > 0))
        return std::nullopt;
    const double left = std::max(0.0, total - static_cast<double>(received)) / bytesPerSecond;
    return static_cast<std::int64_t>(std::ceil(std::min(left, 1e12)));
}

std::string formatBytes(double bytes)
{
    static constexpr const char *Units[] = {"KiB", "MiB", "GiB", "TiB"};
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%.0fB", std::max(0.0, bytes));
        return text;
    }
    std::size_t unit = 0;
    bytes /= 1024;
    while (bytes >= 1024 && unit + 1 < std::size(Units)) {
        bytes /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f%s", bytes, Units[unit]);
    return text;
}

std::string formatSpeed(double bytesPerSecond)
{
    return formatBytes(bytesPerSecond) + "/s";
}

std::string formatTimeLeft(std::optional<std::int64_t> seconds)
{
    if (!seconds)
        return "--:--:--";
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(*seconds / 3600),
        static_cast<long long>(*seconds / 60 % 60), static_cast<long long>(*seconds % 60));
    return text;
}

std::string progressTip(double bytesPerSecond, std::optional<std::int64_t> seconds)
{
    return common::gbk("速度 ") + formatSpeed(bytesPerSecond) + common::gbk("，剩余时间 ") + formatTimeLeft(seconds);
}

std::optional<std::int64_t> parseRate(std::string_view text)
{
    std::int64_t unit = 1;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'k'))
        unit = 1024;
    else if (!text.empty() && (text.back() == 'M' || text.back() == 'm'))
        unit = 1024 * 1024;
    if (unit != 1)
        text.remove_suffix(1);
    if (text.empty() || text.size() > 13 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::int64_t number = 0;
    for (const char digit : text)
        number = number * 10 + (digit - '0');
    const std::int64_t rate = number * unit;
    if (rate <= 0 || rate > (std::int64_t(1) << 40))
        return std::nullopt;
    return rate;
}

} // namespace download
