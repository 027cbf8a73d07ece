#include "download/taskparam.h"

#include "platform/paths.h"

namespace download {

TaskParam toolTaskParam(const std::string &sourceUrl, const std::filesystem::path &localFile, EventRoutine eventRoutine)
{
    TaskParam param;
    param.taskKind = 4096;
    param.sourceUrl = sourceUrl;
    param.localPath = platform::gbkPath(localFile);
    param.localFile = localFile;
    param.connections = 10;
    param.connectTimeoutMs = 5000;
    param.sendTimeoutMs = 5000;
    param.receiveTimeoutMs = 10000;
    param.retryDelayMs = 1000;
    param.chunkBytes = 10240;
    param.eventRoutine = std::move(eventRoutine);
    return param;
}

} // namespace download
