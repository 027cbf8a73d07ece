#pragma once

#include "cli/streams.h"
#include "platform/paths.h"

#include <string>
#include <vector>

// kavo-cli's side of the catalog channel: the author's publish and the program's update check and refresh.
namespace cli {

// publish SRC OUT (--base URL | --address TEMPLATE) [--sign SECRET_KEY]
int publishCommand(const std::vector<std::string> &args, Streams &streams);

// update [--check]: the version check and the refresh of every offered list, without the window.
int updateCommand(const platform::ProgramPaths &paths, const std::vector<std::string> &args, Streams &streams);

} // namespace cli
