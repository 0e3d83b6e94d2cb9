#include "platform/console/InstanceLock.h"

#include <fcntl.h>
#include <cctype>
#include <sys/file.h>
#include <unistd.h>

namespace nox::console {

bool TakeInstanceLock(const std::filesystem::path& directory, const std::string& name) {
  std::string file;
  for (char c : name) file += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
  const auto path = directory / (".lock-" + file);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  return true;  // the descriptor stays open: the lock lasts as long as the process
}

}  // namespace nox::console
