#include "package/OwnFilePath.h"

namespace nox::package {

std::optional<std::string> OwnFilePath(std::string_view firstArgument,
                                       const std::optional<std::string>& currentDirectory,
                                       const std::optional<std::string>& runningExecutable) {
  if (runningExecutable && !runningExecutable->empty()) return *runningExecutable;
  // Only the two usual spellings count; "tool.Exe" gets ".exe" appended like "tool".
  if (firstArgument.find(".exe") != std::string_view::npos || firstArgument.find(".EXE") != std::string_view::npos)
    return std::string(firstArgument);
  if (!currentDirectory || currentDirectory->size() > kMaxCurrentDirectory) return std::nullopt;
  std::string path = *currentDirectory;
  path += '\\';
  path += firstArgument;
  path += ".exe";
  return path;
}

}  // namespace nox::package
