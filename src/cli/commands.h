#pragma once

#include "cli/streams.h"

#include <filesystem>
#include <string>
#include <vector>

// The commands of kavo-cli over the program's own logic. Arguments arrive as UTF-8; `out` and `err` receive
// UTF-8. Each returns the process exit status. Output that cannot be written (see Streams::writeError) makes the
// status 2, with the reason in `err` unless the reader of a pipe went away.
namespace cli {

int run(const std::vector<std::string> &arguments, Streams &streams);

} // namespace cli
