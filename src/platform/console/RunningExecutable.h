// The file of the running program, as the system records it.
#pragma once

#include <optional>
#include <string>

namespace nox::platform {

// The target of /proc/self/exe; none where the system does not provide it.
std::optional<std::string> RunningExecutablePath();

}  // namespace nox::platform
