#include "platform/console/RunningExecutable.h"

#include <unistd.h>

#include <vector>

namespace nox::platform {

std::optional<std::string> RunningExecutablePath() {
  // readlink neither terminates nor reports truncation, so grow until the path fits.
  for (size_t size = 256; size <= 65536; size *= 4) {
    std::vector<char> buffer(size);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
  }
  return std::nullopt;
}

}  // namespace nox::platform
