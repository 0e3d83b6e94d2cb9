// Interim front end shared by both builds of the utility until the start-up stages land:
// parses the word list given on the command line and reports the selected command ids.
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace nox::app {

// Parses `args` (program path first), prints the selected ids to `out`, and returns the
// exit code of the parse result.
int RunOptionsFrontEnd(std::span<const std::string> args, std::FILE* out);

}  // namespace nox::app
