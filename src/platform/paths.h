#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// The program directory: KAVO_HOME when set and not empty, else the folder of the running executable.
// Thread-safe.
std::filesystem::path programDirectory();

// A GBK path or path piece as the file system spells it (UTF-8 on Linux), and back.
std::filesystem::path nativePath(std::string_view gbk);
std::string gbkPath(const std::filesystem::path &path);

} // namespace platform
