#include "download/proxy.h"

namespace download {

std::optional<DownloadError> proxyProblem(const ProxySetting &)
{
    return std::nullopt;
}

} // namespace download
