#include "download/progress.h"

#include <cmath>

namespace download {

ProgressView progressView(std::int64_t received, double total, double labelTolerance)
{
    const double percent = static_cast<double>(received) / total * 100.0;
    if (!std::isfinite(percent))
        return {};
    const double rounded = std::round(percent * 100.0) / 100.0;
    return {static_cast<long>(std::floor(percent + labelTolerance)), static_cast<int>(std::trunc(rounded))};
}

} // namespace download
