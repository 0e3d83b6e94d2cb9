// Where the program's own file (and so its package) is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nox::package {

// Printed by start-up, with the system error code, when the path cannot be formed.
inline constexpr char kGetCurrentPathFailed[] = "- Get Current Path Failed : %d .\n";

// The longest current directory the path is formed with.
inline constexpr size_t kMaxCurrentDirectory = 255;

// `runningExecutable`: the system's own record of the running program's file, where the
// platform has one; it is used when present. Otherwise the first argument when it contains
// ".exe" or ".EXE", else `currentDirectory` + "\" + the first argument + ".exe".
// None when that last form is needed but the current directory could not be read (or is
// longer than kMaxCurrentDirectory).
std::optional<std::string> OwnFilePath(std::string_view firstArgument,
                                       const std::optional<std::string>& currentDirectory,
                                       const std::optional<std::string>& runningExecutable = std::nullopt);

}  // namespace nox::package
