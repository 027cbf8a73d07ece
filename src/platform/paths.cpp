#include "platform/paths.h"

#include "common/gbk.h"

#include <cstdlib>
#include <system_error>

namespace platform {

std::filesystem::path programDirectory()
{
    if (const char *home = std::getenv("KAVO_HOME"); home && *home)
        return std::filesystem::path(home);
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path(error) : executable.parent_path();
}

std::filesystem::path nativePath(std::string_view gbk)
{
    return std::filesystem::path(common::utf8FromGbk(gbk));
}

std::string gbkPath(const std::filesystem::path &path)
{
    return common::gbkFromUtf8(path.native());
}

} // namespace platform
